#include "cli/CliOptions.h"

#include "cli/CliText.h"
#include "environment/EnvironmentMessages.h"
#include "history/HistoryLocation.h"

namespace velmora::cli {
namespace {

bool startsWith(const std::string& word, const std::string& prefix) {
    return word.compare(0, prefix.size(), prefix) == 0;
}

// "--name FILE" or "--name=FILE"; false when the word is neither.
bool readPathOption(const std::vector<std::string>& arguments, std::size_t& index, const std::string& name,
                    std::optional<std::string>& value, std::string& error) {
    const std::string& word = arguments[index];
    if (word == name) {
        if (index + 1 >= arguments.size()) {
            error = text::missingValue(name);
        } else {
            value = arguments[++index];
        }
        return true;
    }
    if (!startsWith(word, name + "=")) return false;
    value = word.substr(name.size() + 1);
    if (value->empty()) error = text::missingValue(name);
    return true;
}

// --keep-backups N: how many runs' backups pruning keeps (the backups of hubs
// that have not passed since are kept whatever N is).
bool readBackupRunsKept(const std::vector<std::string>& arguments, std::size_t& index,
                        ParsedCommandLine& parsed) {
    std::optional<std::string> value;
    if (!readPathOption(arguments, index, "--keep-backups", value, parsed.error)) return false;
    if (!parsed.error.empty()) return true;
    if (const std::optional<std::uint64_t> kept = wholeNumber(*value, 1, kMostBackupRunsKept)) {
        parsed.options.backupRunsKept = static_cast<std::size_t>(*kept);
    } else {
        parsed.error = text::badBackupRunsKept(*value);
    }
    return true;
}

// Handles one global option; false when the word is not one.
bool readGlobalOption(const std::vector<std::string>& arguments, std::size_t& index,
                      ParsedCommandLine& parsed) {
    const std::string& word = arguments[index];
    CliOptions& options = parsed.options;
    if (word == "--help" || word == "-h") {
        options.help = true;
    } else if (word == "--trace") {
        options.trace = true;
    } else if (word == "--json") {
        options.json = true;
    } else if (word == "--verbose") {
        options.verbose = true;
    } else if (word == "--no-backup") {
        options.noBackup = true;
    } else if (word == "--simulate") {
        options.simulate = true;
    } else if (startsWith(word, "--simulate=")) {
        options.simulate = true;
        options.scenario = word.substr(std::string("--simulate=").size());
        if (options.scenario.empty()) parsed.error = text::kEmptyScenario;
    } else if (word == "--config") {
        if (index + 1 >= arguments.size()) {
            parsed.error = text::missingValue("--config");
        } else {
            options.configPath = arguments[++index];
        }
    } else if (startsWith(word, "--config=")) {
        options.configPath = word.substr(std::string("--config=").size());
    } else if (readBackupRunsKept(arguments, index, parsed)) {
    } else if (readPathOption(arguments, index, "--record", options.recordPath, parsed.error) ||
               readPathOption(arguments, index, "--replay", options.replayPath, parsed.error)) {
    } else if (word == "--replay-real-time") {
        options.replayInRealTime = true;
    } else if (word == "--require-signed") {
        options.requireSigned = true;
    } else if (std::optional<std::string> folder;
               readPathOption(arguments, index, "--trusted-keys", folder, parsed.error)) {
        if (folder) options.trustedKeyFolders.push_back(*folder);
    } else if (word == "--history") {
        if (index + 1 >= arguments.size()) {
            parsed.error = text::missingValue("--history");
        } else {
            options.historyPath = arguments[++index];
            // An empty name is a mistake (an unset variable in a script), not the default file.
            if (options.historyPath->empty()) parsed.error = text::missingValue("--history");
        }
    } else if (word == "--station-name" || startsWith(word, "--station-name=")) {
        if (word.size() > std::string("--station-name").size()) {
            options.stationName = word.substr(std::string("--station-name=").size());
        } else if (index + 1 < arguments.size()) {
            options.stationName = arguments[++index];
        }
        if (options.stationName.empty()) parsed.error = text::missingValue("--station-name");
    } else if (startsWith(word, "--history=")) {
        options.historyPath = word.substr(std::string("--history=").size());
        if (options.historyPath->empty()) parsed.error = text::missingValue("--history");
    } else {
        return false;
    }
    return true;
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    bool onlyWords = false;  // after "--" every word is an argument, even "-x"
    for (std::size_t index = 0; index < arguments.size() && parsed.error.empty(); ++index) {
        const std::string& word = arguments[index];
        if (!onlyWords && word == "--") {
            onlyWords = true;
        } else if (onlyWords || !readGlobalOption(arguments, index, parsed)) {
            parsed.options.words.push_back(word);
        }
    }
    parsed.options.commandLine.push_back(text::kProgramName);
    // A recording's header is attached to reports: a URI's password stays out of it.
    for (const std::string& word : arguments)
        parsed.options.commandLine.push_back(history::withoutUriPasswords(word));
    // A replay serves the hubs itself: there is no bus to simulate or to record.
    if (parsed.error.empty() && parsed.options.replayPath &&
        (parsed.options.simulate || parsed.options.recordPath))
        parsed.error = messages::kReplayAlone;
    if (parsed.error.empty() && parsed.options.replayInRealTime && !parsed.options.replayPath)
        parsed.error = messages::kRealTimeWithoutReplay;
    return parsed;
}

std::string strayWordError(const std::string& command, const std::string& word) {
    return startsWith(word, "-") ? text::unknownOption(command, word)
                                 : text::unexpectedArgument(command, word);
}

void takeFileWord(const std::string& command, const std::string& word, std::string& file,
                  std::string& error) {
    if (file.empty() && !startsWith(word, "-")) {
        file = word;
    } else {
        error = strayWordError(command, word);
    }
}

bool ArgumentReader::option(const std::string& name, std::string& value, std::string& error) {
    if (done()) return false;
    const std::string& word = words_[position_];
    if (word == name) {
        if (position_ + 1 >= words_.size()) {
            error = text::missingValue(name);
        } else {
            value = words_[position_ + 1];
        }
        position_ += 2;
        return true;
    }
    if (startsWith(word, name + "=")) {
        value = word.substr(name.size() + 1);
        ++position_;
        return true;
    }
    return false;
}

}  // namespace velmora::cli
