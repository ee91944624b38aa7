// velmora-cli: the hub updater for engineers, scripts and production lines.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/CliApplication.h"
#include "history/HistoryLocation.h"

namespace {

// A password in a server URI is overwritten in the process's own argument
// memory, which is what /proc shows other users as its command line. The copy
// in arguments keeps it for the connection.
void hidePasswords(int argc, char** argv) {
    for (int index = 1; index < argc; ++index) {
        const std::string word = argv[index];
        const std::size_t uri = word.find("postgres");  // also after "--history="
        if (uri == std::string::npos) continue;
        for (const auto& [offset, length] : velmora::history::uriPasswordSpans(word.substr(uri))) {
            for (std::size_t character = 0; character < length; ++character)
                argv[index][uri + offset + character] = 'x';
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    hidePasswords(argc, argv);
    const velmora::cli::TerminalStreams streams{std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1,
                                                ::isatty(STDERR_FILENO) == 1};
    return velmora::cli::runCommandLine(arguments, streams);
}
