// velmora-cli: the hub updater for engineers, scripts and production lines.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/CliApplication.h"
#include "history/HistoryLocation.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    velmora::history::hideUriPasswords(argc, argv);
    const velmora::cli::TerminalStreams streams{std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1,
                                                ::isatty(STDERR_FILENO) == 1};
    return velmora::cli::runCommandLine(arguments, streams);
}
