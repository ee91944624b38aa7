#pragma once
// The command line's entry: parses the words, runs the command, answers the exit status.
#include <string>
#include <vector>

#include "cli/TerminalReporter.h"

namespace velmora::host {
class SignalDeferral;
}

namespace velmora::cli {

// signalOwner: the process's owner of its signals, when the caller is the program's main.
int runCommandLine(const std::vector<std::string>& arguments, TerminalStreams streams,
                   host::SignalDeferral* signalOwner = nullptr);

// The name of every command the command line knows, in order.
std::vector<std::string> commandNames();

}  // namespace velmora::cli
