#pragma once
// `history`: the recorded runs as a table, CSV or JSON; and the recorder every
// hub command connects to its workflows.
#include <memory>

#include "cli/CommandContext.h"
#include "workflows/RunRecorder.h"

namespace velmora::cli {

ExitStatus runHistory(const CommandContext& command);

// The recorder for the history the options name (or the user's default). Its
// problem, if any, is written to err once, as a note of the program.
std::unique_ptr<RunRecorder> makeHistoryRecorder(const CliOptions& options, Clock& clock, std::ostream& err);

}  // namespace velmora::cli
