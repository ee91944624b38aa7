#pragma once
// "recording import CAPTURE OUT": a usbmon capture made without this program
// turned into a recording that --replay serves.
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runRecording(const CommandContext& command);

}  // namespace velmora::cli
