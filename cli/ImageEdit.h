#pragma once
// "image edit FILE -o OUT ...": the configuration editor's edits applied to an image
// file, with the editor's limits and messages, and saved as the flash page saves.
#include <string>
#include <utility>
#include <vector>

#include "cli/CommandContext.h"
#include "editor/DescriptorFields.h"

namespace velmora::cli {

ExitStatus runImageEdit(const CommandContext& command);

// The identity options of image edit ("--vid", ...) and the field each one sets.
const std::vector<std::pair<std::string, IdentityField>>& fieldOptions();

}  // namespace velmora::cli
