#pragma once
// What every command gets: the parsed options, its own arguments, the streams and
// the program's firmware buffers.
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/TerminalReporter.h"
#include "workflows/FirmwareBuffers.h"

namespace velmora::cli {

struct CommandContext {
    const CliOptions& options;
    std::vector<std::string> arguments;  // the words after the command's name
    TerminalStreams streams;
    FirmwareBuffers& buffers;

    // Writes "velmora-cli: message" to stderr and answers the status to exit with.
    ExitStatus fail(ExitStatus status, const std::string& message) const;
    void note(const std::string& message) const;
};

}  // namespace velmora::cli
