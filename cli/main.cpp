// velmora-cli: the hub updater for engineers, scripts and production lines.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/CliApplication.h"
#include "cli/CliText.h"
#include "history/HistoryLocation.h"
#include "host/SignalDeferral.h"

int main(int argc, char** argv) {
    // Before anything can reach a hub: a stop signal then waits for a flash write to end.
    velmora::host::SignalDeferral signalOwner(velmora::cli::text::kProgramName);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    velmora::history::hideUriPasswords(argc, argv);
    const velmora::cli::TerminalStreams streams{std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1,
                                                ::isatty(STDERR_FILENO) == 1};
    return velmora::cli::runCommandLine(arguments, streams, &signalOwner);
}
