#pragma once
// What the window's boxes share: the session, the desktop around the window, the
// workflows' reporter, the update workers and the detection scheduler a run holds
// off. AppDelegate owns all of them and hands each box this view of them; a box
// keeps it for the window's life.
#include <functional>
#include <optional>
#include <string>

#include "workflows/RefusedImage.h"
#include "workflows/RunPlan.h"

class QString;
class QWidget;

namespace velmora {
class DetectionScheduler;
struct ImageSignature;
struct WorkflowContext;
}  // namespace velmora

namespace velmora::window {

class WindowReporter;
class WindowSession;
class WorkerThreads;
struct WindowEnvironment;

struct BoxServices {
    WindowSession& session;
    WindowEnvironment& environment;
    WindowReporter& reporter;
    WorkerThreads& workers;
    DetectionScheduler& scheduler;
    QWidget& window;  // the dialogs' parent

    // The context every workflow run is handed: the reporter, the window's
    // connection, the detection scheduler and the run's record.
    WorkflowContext workflowContext() const;
    // The plan of a window's run on "the" hub (the window names no ports): the
    // button's name, what the session keeps.
    RunPlan plan(const std::string& name) const;
    // The one gate: the core admits the plan, or the user is told why and nothing
    // is returned. Several hubs attached (the bus's order would pick one): the
    // alert to leave one attached, or with PaneOnly (a run nobody watches) a red
    // line in the pane; an image refused: as reportRefusedImage says; any other
    // reason: an alert.
    std::optional<PlanVerdict> admit(const RunPlan& plan, RefusalAlert alert = RefusalAlert::Show) const;
    // An image's signature as the gate judged it, outside the status pane: who
    // signed it and the notes (an unsigned image where keys are trusted) go to
    // the console log. Answers the signer's lines for the image's field.
    QString showSignature(const ImageSignature& signature) const;
    // An edit's alert, shown once the edit has returned (an edit handler opens no
    // dialog while it works, see FlashBox.cpp); then afterwards runs, if given.
    void alertAfterEdit(const std::string& text, std::function<void()> afterwards = {}) const;
};

}  // namespace velmora::window
