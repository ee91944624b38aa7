#include "usbip/ServerControl.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulationScenarios.h"

namespace velmora::usbip {

namespace {

bool takeFaults(const std::string& scenario, sim::SimulatedHub& hub, const SupportedDevice& identity,
                std::string& error) {
    VirtualClock clock;
    sim::SimulatedBus bus(clock);
    if (!sim::applySimulationScenario(scenario, bus, identity)) {
        error = "no such scenario";
        return false;
    }
    const std::vector<sim::SimulatedHub*> hubs = bus.hubs();
    if (hubs.size() != 1) {
        error = "the scenario is not about one hub";
        return false;
    }
    hub.setFaults(hubs.front()->faults());
    return true;
}

// Written beside the target and renamed, so a reader never sees half a file.
bool saveFlash(const std::string& path, const sim::SimulatedHub& hub, std::string& error) {
    const std::vector<std::uint8_t> flash = hub.flashContents();
    const std::string partial = path + ".part";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
        if (!file.flush()) {
            error = "cannot write " + partial;
            return false;
        }
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + partial;
        return false;
    }
    return true;
}

// The hub a command names by its leading number, and the command without it.
sim::SimulatedHub* chosenHub(std::string_view& command, const std::vector<sim::SimulatedHub*>& hubs) {
    std::size_t digits = 0;
    while (digits < command.size() && command[digits] >= '0' && command[digits] <= '9') ++digits;
    if (digits == 0 || digits >= command.size() || command[digits] != ' ')
        return hubs.empty() ? nullptr : hubs.front();
    std::size_t number = 0;
    for (std::size_t index = 0; index < digits && number <= hubs.size(); ++index)
        number = number * 10 + static_cast<std::size_t>(command[index] - '0');
    command.remove_prefix(digits + 1);
    return number >= 1 && number <= hubs.size() ? hubs[number - 1] : nullptr;
}

}  // namespace

std::string runControlCommand(std::string_view line, const std::vector<sim::SimulatedHub*>& hubs,
                              const SupportedDevice& identity) {
    std::string_view command = line;
    sim::SimulatedHub* hub = chosenHub(command, hubs);
    const std::size_t blank = command.find(' ');
    const std::string verb(command.substr(0, blank));
    const std::string argument(blank == std::string_view::npos ? std::string_view{}
                                                               : command.substr(blank + 1));
    std::string error = "unknown command (faults SCENARIO, flash PATH)";
    bool done = false;
    if (hub == nullptr) {
        error = "no such hub";
    } else if (verb == "faults" && !argument.empty()) {
        done = takeFaults(argument, *hub, identity, error);
    } else if (verb == "flash" && !argument.empty()) {
        done = saveFlash(argument, *hub, error);
    }
    return done ? "ok " + std::string(line) : "error " + std::string(line) + ": " + error;
}

}  // namespace velmora::usbip
