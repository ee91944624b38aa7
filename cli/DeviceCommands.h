#pragma once
// The commands that talk to a hub: detect, list, update, scalar, read and erase.
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runDetect(const CommandContext& command);
ExitStatus runList(const CommandContext& command);
ExitStatus runUpdate(const CommandContext& command);
ExitStatus runScalar(const CommandContext& command);
ExitStatus runRead(const CommandContext& command);
ExitStatus runErase(const CommandContext& command);

}  // namespace velmora::cli
