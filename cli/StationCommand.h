#pragma once
// `station FILE`: the production station on the command line.
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runStation(const CommandContext& command);

}  // namespace velmora::cli
