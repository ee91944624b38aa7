#pragma once
// "driver load" and "driver unload": installing and removing the update driver,
// as the window's help box buttons do.
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runDriver(const CommandContext& command);

}  // namespace velmora::cli
