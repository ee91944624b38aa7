#pragma once
// The commands that keep a failed update from losing a hub's firmware: verify
// (compare the flash with an image, writing nothing), backups (list what was
// kept before each erase) and restore (write a backup back with the full update).
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runVerify(const CommandContext& command);
ExitStatus runBackups(const CommandContext& command);
ExitStatus runRestore(const CommandContext& command);
// Finds hubs left in ROM code and writes back the backup of the run that left them so.
ExitStatus runRecover(const CommandContext& command);

}  // namespace velmora::cli
