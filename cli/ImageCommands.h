#pragma once
// The commands on image files: "image show" and "image edit".
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runImage(const CommandContext& command);

}  // namespace velmora::cli
