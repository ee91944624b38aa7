#include "device/simulated/SimulatedEnvironment.h"

namespace velmora::sim {

SupportedDevice simulatedHubIdentity(const SupportedDeviceTable& table) {
    const SupportedDevice* entry = table.firstValid();
    return entry ? *entry : kUnlistedHubIdentity;
}

std::unique_ptr<SimulatedEnvironment> SimulatedEnvironment::create(const SupportedDeviceTable& table,
                                                                   Clock& clock, std::string_view scenario,
                                                                   Milliseconds rebootTime) {
    if (!isSimulationScenario(scenario)) return nullptr;
    std::unique_ptr<SimulatedEnvironment> environment(new SimulatedEnvironment(clock));
    applySimulationScenario(scenario, environment->bus_, simulatedHubIdentity(table), rebootTime);
    return environment;
}

SimulatedHub* SimulatedEnvironment::hub() {
    const std::vector<SimulatedHub*> hubs = bus_.hubs();
    return hubs.empty() ? nullptr : hubs.front();
}

}  // namespace velmora::sim
