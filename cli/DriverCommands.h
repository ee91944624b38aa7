#pragma once
// Installing and removing the update driver from the command line.
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runDriver(const CommandContext& command);

}  // namespace velmora::cli
