#pragma once
// What every command gets: the parsed options, its own arguments, the streams and
// the program's firmware buffers.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/TerminalReporter.h"
#include "workflows/FirmwareBuffers.h"

namespace velmora::host {
class SignalDeferral;
}

namespace velmora::cli {

// What a hub session leaves for the end of the command: the line a replay that
// went elsewhere than its recording ends with, and why --record could not write
// the whole recording.
struct SessionEnding {
    std::optional<std::string> replayDivergence;
    std::optional<std::string> recordingProblem;
};

struct CommandContext {
    const CliOptions& options;
    std::vector<std::string> arguments;  // the words after the command's name
    TerminalStreams streams;
    FirmwareBuffers& buffers;
    // Filled as the command's hub session closes; shared by the copies a command
    // makes for its sub-commands.
    std::shared_ptr<SessionEnding> ending = std::make_shared<SessionEnding>();
    // The process's owner of its signals (main makes it); none when the command
    // line runs inside another program.
    host::SignalDeferral* signalOwner = nullptr;

    // Writes "velmora-cli: message" to stderr and answers the status to exit with.
    ExitStatus fail(ExitStatus status, const std::string& message) const;
    void note(const std::string& message) const;
};

}  // namespace velmora::cli
