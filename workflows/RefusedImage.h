#pragma once
// What the window does with an image the admission refused: it is never written,
// the user is told why in an alert with one "OK" button (the hub is untouched, so
// nothing else is at stake), and the pane ends as a run on a wrong file ends, with
// the cause on a red line before it. A run nobody watches (the station's run at
// launch) says it in the pane only: an alert would hold the line up.
#include <string>

#include "workflows/ImageChecks.h"
#include "workflows/WorkflowReporter.h"

namespace velmora {

// The alert: the reason, and for IDs the configuration does not list, how to
// proceed (the window has no override, unlike the command line's --allow-new-ids).
std::string refusedImageAlert(const ImageAdmission& admission);

enum class RefusalAlert { Show, PaneOnly };

void reportRefusedImage(WorkflowReporter& reporter, const ImageAdmission& admission, RefusalAlert alert);

}  // namespace velmora
