#pragma once
// The command line's words: global options wherever they stand, then the command
// and its own arguments in order.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/TextFormat.h"
#include "cli/ExitStatus.h"

namespace velmora::cli {

// The most runs --keep-backups may name: far beyond any line's need, and small
// enough that the index it prunes by stays a file one reads at once.
inline constexpr std::size_t kMostBackupRunsKept = 1000000;

struct CliOptions {
    std::optional<std::string> configPath;
    std::optional<std::string> historyPath;  // the history file or server URI; none: the user's default
    std::string stationName;                 // the name runs are recorded under; empty: the host name
    bool noBackup = false;  // no flash backup before an erase: for a bench that knows what it does
    std::optional<std::size_t> backupRunsKept;  // --keep-backups: pruning keeps this many runs' backups
    bool simulate = false;
    std::string scenario;  // the simulated bus's set-up; empty: the default one
    bool trace = false;
    bool json = false;
    bool verbose = false;
    bool help = false;
    std::optional<std::string> recordPath;  // --record: every exchange with the hubs goes there
    std::optional<std::string> replayPath;  // --replay: the hubs are served from that recording
    bool replayInRealTime = false;          // --replay-real-time: each exchange takes its recorded time
    // --trusted-keys DIR (repeatable): keys trusted for this command besides the system's.
    std::vector<std::string> trustedKeyFolders;
    bool requireSigned = false;      // --require-signed: an image without a signature is refused
    std::vector<std::string> words;  // the command, its sub-command and its own arguments
    std::vector<std::string>
        commandLine;  // every word as given (URI passwords removed), for a recording's header
};

struct ParsedCommandLine {
    CliOptions options;
    std::string error;  // empty when the words made sense
};

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The error for a word a command does not take: an unknown option when it starts
// with '-', else an unexpected argument.
std::string strayWordError(const std::string& command, const std::string& word);
// A word that is none of a command's options, for a command that takes one FILE:
// the FILE the first time, else error (strayWordError).
void takeFileWord(const std::string& command, const std::string& word, std::string& file, std::string& error);

// Pulls "--name VALUE" or "--name=VALUE" out of a command's own arguments.
class ArgumentReader {
public:
    explicit ArgumentReader(std::vector<std::string> words) : words_(std::move(words)) {}

    bool done() const { return position_ >= words_.size(); }
    const std::string& peek() const { return words_[position_]; }
    std::string next() { return words_[position_++]; }
    // True when the next word is this option; its value then goes to value, or error
    // names the option that lacks one.
    bool option(const std::string& name, std::string& value, std::string& error);

private:
    std::vector<std::string> words_;
    std::size_t position_ = 0;
};

}  // namespace velmora::cli
