#pragma once
// "image edit FILE -o OUT ...": the configuration editor's edits applied to an image
// file, with the editor's limits and messages, and saved as the flash page saves.
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runImageEdit(const CommandContext& command);

}  // namespace velmora::cli
