#pragma once
// Saving the flash page: the identity fields as the user left them are checked and
// stored into the flash-page buffer, then the whole buffer goes to a file.
#include <ostream>
#include <string>

#include "editor/DescriptorFields.h"
#include "firmware/FirmwareBuffer.h"
#include "workflows/WorkflowReporter.h"

namespace velmora {

class Console;

// What the user typed, the version field included; the container ID is stored as it
// is typed and not read here.
using FlashPageFields = IdentityTexts;

// The checks and stores before a path is asked for. True when the front end should
// go on and ask for the path; false after the alert that says why not. The string
// descriptor area that was stored is printed to standardOutput.
bool save_FwFlash(FirmwareBuffer& flashPage, const FlashPageFields& fields, WorkflowReporter& reporter,
                  Console& console, std::ostream& standardOutput);

// Once a path was chosen: the buffer's bytes written in one atomic replacement. A
// write that fails is told with an alert, since the edits exist nowhere else; the
// reason (a refused symbolic link or device, the system's error) goes to the
// console and to failureReason when given.
bool saveFinished_FwFlash(const FirmwareBuffer& flashPage, const std::string& path,
                          WorkflowReporter& reporter, Console& console, std::string* failureReason = nullptr);

}  // namespace velmora
