#pragma once
// `history`: the recorded runs as a table, CSV or JSON. The recorder every hub
// command connects to its workflows is the environment's (cli/HubSession).
#include "cli/CommandContext.h"

namespace velmora::cli {

ExitStatus runHistory(const CommandContext& command);

}  // namespace velmora::cli
