#include "cli/CliOptions.h"

#include "cli/CliText.h"

namespace velmora::cli {
namespace {

bool startsWith(const std::string& word, const std::string& prefix) {
    return word.compare(0, prefix.size(), prefix) == 0;
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
    } else if (word == "--history") {
        if (index + 1 >= arguments.size()) {
            parsed.error = text::missingValue("--history");
        } else {
            options.historyPath = arguments[++index];
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
    return parsed;
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
