#include "testbed/LauncherOptions.h"

#include <cstdlib>

#include "device/simulated/SimulationScenarios.h"

namespace velmora::usbfs {

namespace {

constexpr long kLongestRebootMilliseconds = 60000;

// "--name VALUE" or "--name=VALUE"; position moves past what was taken.
bool takeValue(const std::vector<std::string>& words, std::size_t& position, const std::string& name,
               std::string& value, std::string& error) {
    const std::string& word = words[position];
    if (word == name) {
        if (position + 1 >= words.size()) {
            error = "option " + name + " needs a value";
            return true;
        }
        value = words[++position];
        return true;
    }
    if (word.rfind(name + "=", 0) == 0) {
        value = word.substr(name.size() + 1);
        return true;
    }
    return false;
}

bool parseRebootTime(const std::string& text, Milliseconds& time) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > kLongestRebootMilliseconds) return false;
    time = Milliseconds{value};
    return true;
}

}  // namespace

LauncherOptions parseLauncherOptions(const std::vector<std::string>& words) {
    LauncherOptions options;
    std::size_t position = 0;
    for (; position < words.size() && options.error.empty(); ++position) {
        const std::string& word = words[position];
        std::string value;
        if (word == "--") {
            ++position;
            break;
        }
        if (word == "--help" || word == "-h") {
            options.help = true;
        } else if (word == "--virtual-time") {
            options.virtualTime = true;
        } else if (takeValue(words, position, "--config", value, options.error)) {
            options.configPath = value;
        } else if (takeValue(words, position, "--scenario", value, options.error)) {
            if (options.error.empty() && !sim::isSimulationScenario(value))
                options.error = "unknown scenario: " + value;
            options.scenario = value;
        } else if (takeValue(words, position, "--reboot-ms", value, options.error)) {
            if (options.error.empty() && !parseRebootTime(value, options.rebootTime))
                options.error = "--reboot-ms takes milliseconds from 0 to 60000: " + value;
        } else if (word.rfind("-", 0) == 0) {
            options.error = "unknown option: " + word;
        } else {
            break;  // the command starts here
        }
    }
    if (!options.error.empty()) return options;
    options.command.assign(words.begin() + static_cast<std::ptrdiff_t>(position), words.end());
    if (options.command.empty() && !options.help) options.error = "no command to run";
    return options;
}

std::string launcherUsage() {
    return "usage: velmora-testbed [--config FILE] [--scenario NAME] [--reboot-ms N] [--virtual-time]\n"
           "                       [--] COMMAND [ARG...]\n"
           "Runs COMMAND against simulated hubs shown to it as real USB devices (sysfs,\n"
           "udev and usbfs emulated by umockdev), so the program's libusb code runs\n"
           "unchanged. The hubs take the identity of the first supported entry of\n"
           "config.ini, reset and come back after N milliseconds (default 300).\n"
           "With --virtual-time, a velmora program's waits pass in the testbed's own\n"
           "time, so its resets take no real time.\n"
           "Scenarios:\n" +
           sim::simulationScenarioHelp();
}

}  // namespace velmora::usbfs
