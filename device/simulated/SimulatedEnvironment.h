#pragma once
// A ready simulated bus and its platform, for the command line's --simulate and
// the window's simulated mode: hubs with the identity of the first valid entry of
// the supported device table, set up as a named scenario describes.
#include <memory>
#include <string_view>

#include "app/SupportedDeviceTable.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedUsbPlatform.h"
#include "device/simulated/SimulationScenarios.h"

namespace velmora::sim {

// The identity used when the table has no valid entry: such a hub is found by
// nobody, which is what an empty table should lead to.
inline constexpr SupportedDevice kUnlistedHubIdentity{1, 0x5A10, 0x5301, 0x5302};

SupportedDevice simulatedHubIdentity(const SupportedDeviceTable& table);

class SimulatedEnvironment {
public:
    // Null for an unknown scenario name.
    static std::unique_ptr<SimulatedEnvironment> create(
        const SupportedDeviceTable& table, Clock& clock,
        std::string_view scenario = kDefaultSimulationScenario, Milliseconds rebootTime = kDefaultRebootTime);

    SimulatedBus& bus() { return bus_; }
    SimulatedUsbPlatform& platform() { return platform_; }
    // The first hub of the scenario, or null when it has none.
    SimulatedHub* hub();

private:
    explicit SimulatedEnvironment(Clock& clock) : bus_(clock), platform_(bus_) {}

    SimulatedBus bus_;
    SimulatedUsbPlatform platform_;
};

}  // namespace velmora::sim
