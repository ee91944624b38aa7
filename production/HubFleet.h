#pragma once
// One workflow on many hubs at once, as a production line runs it: one
// connection and one worker per hub, each connection pinned to its hub's port and
// holding that port from its first open to its last reopen. A hub that fails or
// drops off the bus ends only its own run.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/HubStatus.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

class SupportedDeviceTable;

struct HubRunResult {
    std::string portPath;
    bool succeeded = false;
    // The hub's status before and after the run; none when it could not be opened
    // or did not answer. runningVersionText words them.
    std::optional<HubStatus> statusBefore;
    std::optional<HubStatus> statusAfter;
    Milliseconds duration{0};  // on the fleet's clock, the two version reads included
};

struct HubFleet {
    Clock& clock;
    // A connection of its own to the hub on a port (the front end may trace it).
    std::function<std::unique_ptr<HubConnection>(const std::string& portPath)> connect;
    // Where the run on hub number index reports; each hub needs its own reporter.
    std::function<WorkflowReporter&(std::size_t index)> reporterFor;
    Console* console = nullptr;
    RunObserver* observer = nullptr;  // the runs' record (the history); none: not kept
    FlashBackups* backups = nullptr;  // the flash kept before each erase; none: no backups
    RunIds* runIds = nullptr;         // where each run gets its name; none: each makes its own
};

using HubWorkflow = std::function<bool(const WorkflowContext&)>;

// Runs the workflow on every port at once and returns when all have ended, one
// result per port in the order given.
std::vector<HubRunResult> runOnHubs(const HubFleet& fleet, const std::vector<std::string>& ports,
                                    const HubWorkflow& workflow);

// The ports of the supported hubs attached now, in the platform's order.
std::vector<std::string> supportedHubPorts(UsbPlatform& platform, const SupportedDeviceTable& table);

}  // namespace velmora
