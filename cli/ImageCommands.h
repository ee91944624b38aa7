#pragma once
// The commands on image files: "image show", "image edit", and the signing
// commands "image keygen", "image sign" and "image verify".
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runImage(const CommandContext& command);

}  // namespace velmora::cli
