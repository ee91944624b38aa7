#include "window/WindowOptions.h"

#include <cstdlib>
#include <string_view>

#include "app/Config.h"
#include "device/simulated/SimulationScenarios.h"
#include "environment/EnvironmentMessages.h"
#include "history/HistoryLocation.h"

namespace velmora::window {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// "--config FILE" or "--config=FILE"; false with error set when the value is missing.
bool takeConfig(const std::vector<std::string>& arguments, std::size_t& index, WindowOptions& options,
                std::string& error) {
    const std::string& word = arguments[index];
    if (startsWith(word, "--config=")) {
        options.configPath = word.substr(std::string_view("--config=").size());
    } else if (index + 1 < arguments.size() && !startsWith(arguments[index + 1], "-")) {
        options.configPath = arguments[++index];
    } else {
        options.configPath = "";
    }
    if (options.configPath->empty()) {
        error = "--config needs a file name";
        return false;
    }
    return true;
}

// "--history FILE" or "--history=FILE".
bool takeHistory(const std::vector<std::string>& arguments, std::size_t& index, WindowOptions& options,
                 std::string& error) {
    const std::string& word = arguments[index];
    if (startsWith(word, "--history=")) {
        options.historyPath = word.substr(std::string_view("--history=").size());
    } else if (index + 1 < arguments.size() && !startsWith(arguments[index + 1], "-")) {
        options.historyPath = arguments[++index];
    } else {
        options.historyPath = "";
    }
    if (options.historyPath->empty()) {
        error = "--history needs a file name or a postgresql:// URI";
        return false;
    }
    return true;
}

// "--record FILE" or "--record=FILE", and the same for --replay.
bool takePath(const std::vector<std::string>& arguments, std::size_t& index, const std::string& name,
              std::optional<std::string>& value, std::string& error) {
    const std::string& word = arguments[index];
    if (startsWith(word, name + "=")) {
        value = word.substr(name.size() + 1);
    } else if (index + 1 < arguments.size() && !startsWith(arguments[index + 1], "-")) {
        value = arguments[++index];
    } else {
        value = "";
    }
    if (value->empty()) {
        error = name;
        error += " needs a file name";
        return false;
    }
    return true;
}

// "--station IMAGE" or one of the station's options with its value, either
// spelt "--option VALUE" or "--option=VALUE". False when the word is none of
// them; error set for a missing or bad value.
bool takeStationWord(const std::vector<std::string>& arguments, std::size_t& index, StationRequest& request,
                     bool& stationNamed, std::string& error) {
    const std::string& word = arguments[index];
    std::vector<std::string> names = stationValueOptions();
    names.push_back("--station");
    for (const std::string& name : names) {
        std::optional<std::string> value;
        if (word != name && !startsWith(word, name + "=")) continue;
        if (!takePath(arguments, index, name, value, error)) {
            error = name + " needs a value (see --help)";
            return true;
        }
        if (name != "--station") {
            readStationOption(name, *value, request, error);
        } else {
            stationNamed = true;
            request.imagePath = *value;
        }
        return true;
    }
    return false;
}

bool takeSimulate(const std::string& word, WindowOptions& options, std::string& error) {
    options.simulate = true;
    if (word == "--simulate") return true;
    options.scenario = word.substr(std::string_view("--simulate=").size());
    if (options.scenario.empty()) {
        error = "--simulate= needs a scenario name (see --help)";
        return false;
    }
    if (!sim::isSimulationScenario(options.scenario)) {
        error = "unknown scenario \"" + options.scenario + "\" (see --help)";
        return false;
    }
    return true;
}

}  // namespace

ParsedWindowOptions parseWindowOptions(const std::vector<std::string>& arguments) {
    ParsedWindowOptions parsed;
    WindowOptions& options = parsed.options;
    StationRequest station;
    bool stationNamed = false;
    bool stationOptions = false;  // one of the station's options was given
    for (std::size_t index = 0; index < arguments.size() && parsed.error.empty(); ++index) {
        const std::string& word = arguments[index];
        if (takeStationWord(arguments, index, station, stationNamed, parsed.error)) {
            stationOptions = true;
        } else if (word == "--help" || word == "-h") {
            options.help = true;
        } else if (word == "--version") {
            options.version = true;
        } else if (word == "--verbose" || word == "-v") {
            options.verbose = true;
        } else if (word == "--config" || startsWith(word, "--config=")) {
            takeConfig(arguments, index, options, parsed.error);
        } else if (word == "--history" || startsWith(word, "--history=")) {
            takeHistory(arguments, index, options, parsed.error);
        } else if (word == "--station-name" || startsWith(word, "--station-name=")) {
            const bool joined = startsWith(word, "--station-name=");
            if (joined) options.stationName = word.substr(std::string_view("--station-name=").size());
            if (!joined && index + 1 < arguments.size()) options.stationName = arguments[++index];
            if (options.stationName.empty()) parsed.error = "--station-name needs a name";
        } else if (word == "--simulate" || startsWith(word, "--simulate=")) {
            takeSimulate(word, options, parsed.error);
        } else if (word == "--require-signed") {
            options.requireSigned = true;
        } else if (word == "--trusted-keys" || startsWith(word, "--trusted-keys=")) {
            std::optional<std::string> folder;
            if (takePath(arguments, index, "--trusted-keys", folder, parsed.error))
                options.trustedKeyFolders.push_back(*folder);
        } else if (word == "--record" || startsWith(word, "--record=")) {
            takePath(arguments, index, "--record", options.recordPath, parsed.error);
        } else if (word == "--replay" || startsWith(word, "--replay=")) {
            takePath(arguments, index, "--replay", options.replayPath, parsed.error);
        } else if (startsWith(word, "-")) {
            parsed.error = "unknown option " + word + " (see --help)";
        } else {
            parsed.error = "unexpected argument \"" + word + "\": the window takes options only (see --help)";
        }
    }
    if (parsed.error.empty() && stationOptions && !stationNamed)
        parsed.error = "the station's options go with --station IMAGE (see --help)";
    if (parsed.error.empty() && stationNamed) checkStationRequest(station, parsed.error);
    if (parsed.error.empty() && stationNamed) {
        station.stationName = options.stationName;
        options.station = std::move(station);
    }
    // A replay serves the hubs itself: there is no bus to simulate or to record.
    if (parsed.error.empty() && options.replayPath && (options.simulate || options.recordPath))
        parsed.error = messages::kReplayAlone;
    options.commandLine.push_back(kProgramName);
    // A recording's header is attached to reports: a URI's password stays out of it.
    for (const std::string& word : arguments)
        options.commandLine.push_back(history::withoutUriPasswords(word));
    return parsed;
}

std::string usageText() {
    return std::string(
               "Usage: velmora [OPTIONS]\n"
               "\n"
               "Opens the Velmora window: detect a Zelo Hub, update its firmware, read, erase,\n"
               "load and save flash images, and load or unload the update driver.\n"
               "\n"
               "Options:\n"
               "  --config FILE            read this configuration instead of /etc/velmora/config.ini "
               "(when installed)\n"
               "                           or the resource folder's config.ini\n"
               "  --simulate[=SCENARIO]    drive a simulated hub with the configuration's first supported "
               "IDs\n"
               "                           instead of the USB bus (default scenario: ") +
           std::string(sim::kDefaultSimulationScenario) +
           ")\n"
           "  --history FILE|URI       record every hub run in this history database instead of\n"
           "                           $XDG_STATE_HOME/velmora/history.sqlite (velmora-cli history lists "
           "it);\n"
           "                           a postgresql:// URI names a line's server, which the runs reach\n"
           "                           after that file, whenever it answers (see velmora-cli --help)\n"
           "  --station-name NAME      the station's name in the history (default: the host name)\n"
           "  --require-signed         refuse an image without a signature (FILE.minisig), as\n"
           "                           config.ini's [Images] RequireSigned = 1 does; an image whose\n"
           "                           signature does not verify, or comes from a revoked or unknown\n"
           "                           key, is always refused (see velmora-cli --help)\n"
           "  --trusted-keys DIR       also trust the *.pub keys in DIR (a test bench; repeatable);\n"
           "                           refused where [Images] RequireSigned is set\n"
           "  --record FILE            write every exchange with the hubs (listings, opens, each control\n"
           "                           request with its bytes, status and duration) to FILE as the\n"
           "                           window works; a file to attach to a problem report\n"
           "  --replay FILE            serve the hubs from a recording instead of the bus; each request\n"
           "                           must be the one recorded, else the hub stops answering and, on\n"
           "                           closing, the window says where on standard error (exit status 1)\n"
           "  --station IMAGE          open the station view: update every supported hub with IMAGE as\n"
           "                           it is plugged in, up to 64 at once, each on a tile of its own;\n"
           "                           scanned unit IDs go to the units that arrive next (the Station menu\n"
           "                           opens the view too). With it, as velmora-cli station takes them:\n"
           "                           --count N, --expect-version VVVV, --serial-digits N,\n"
           "                           --serial-prefix TEXT, --serial-start N, --serial-block N,\n"
           "                           --metrics ADDRESS:PORT, --metrics-file PATH\n"
           "  --verbose, -v            also write the diagnostic lines to standard error\n"
           "  --version                print the version and exit\n"
           "  --help, -h               print this help and exit\n"
           "\n"
           "Scenarios for --simulate:\n" +
           sim::simulationScenarioHelp() +
           "\n"
           "The window needs a display (DISPLAY or WAYLAND_DISPLAY); without one, run it\n"
           "under xvfb-run. Diagnostic lines go to the system log. Exit status: 0 when the\n"
           "window was closed, 1 when a replay diverged from its recording, 2 for bad\n"
           "options, an unusable --config file or no display.\n"
           "VELMORA_RESOURCES names another resource folder; chip definitions (*.INI) are\n"
           "also read from $XDG_DATA_HOME/velmora (default ~/.local/share/velmora).\n";
}

std::string versionText() {
    return std::string(kProgramName) + std::string(kAppVersionSuffix).substr(1) + "\n";
}

std::string noDisplayText() {
    return std::string(kProgramName) +
           ": no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set); "
           "run it in a desktop session or under xvfb-run, or use velmora-cli\n";
}

bool displayAvailable() {
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")) return true;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform == nullptr) return false;
    const std::string_view name(platform);
    return name == "offscreen" || name == "minimal" || startsWith(name, "vnc") || startsWith(name, "eglfs") ||
           startsWith(name, "linuxfb");
}

}  // namespace velmora::window
