#pragma once
// Named set-ups of the simulated bus, for tests and for the command line's
// --simulate=SCENARIO: a healthy hub in either code, and the ways a hub fails.
#include <string>
#include <string_view>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/simulated/SimulatedBus.h"

namespace velmora::sim {

struct SimulationScenario {
    std::string_view name;
    std::string_view description;  // one line
};

inline constexpr std::string_view kDefaultSimulationScenario = "flash-code";
// The version of the sample image that healthy simulated hubs run.
inline constexpr std::uint16_t kSampleImageVersion = 0x0102;
// The ports the scenarios put their devices on.
inline constexpr std::string_view kFirstHubPort = "1-1";
inline constexpr std::string_view kSecondHubPort = "1-2";
inline constexpr std::string_view kMousePort = "1-3";

// The ports of the sixty-four-hubs scenario, in the order they are listed.
std::vector<std::string> sixtyFourHubPorts();

const std::vector<SimulationScenario>& simulationScenarios();
bool isSimulationScenario(std::string_view name);
// "  name  description" lines, one per scenario, for a usage text.
std::string simulationScenarioHelp();

// Fills an empty bus for the scenario with hubs of the given identity; false for
// an unknown name (the bus is then left empty).
bool applySimulationScenario(std::string_view name, SimulatedBus& bus, const SupportedDevice& identity,
                             Milliseconds rebootTime = kDefaultRebootTime);

}  // namespace velmora::sim
