#pragma once
// The command line's entry: parses the words, runs the command, answers the exit status.
#include <string>
#include <vector>

#include "cli/TerminalReporter.h"

namespace velmora::cli {

int runCommandLine(const std::vector<std::string>& arguments, TerminalStreams streams);

}  // namespace velmora::cli
