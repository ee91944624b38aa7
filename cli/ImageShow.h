#pragma once
// "image show FILE [--ic DEF.INI] [--page NAME]": what the flash page would show for
// an image: its identity fields, the hex view of its configuration block and, with a
// definition file, the properties of one page with their current values.
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runImageShow(const CommandContext& command);

}  // namespace velmora::cli
