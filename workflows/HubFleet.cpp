#include "workflows/HubFleet.h"

#include <array>

#include "app/SupportedDeviceTable.h"
#include "device/VendorCommands.h"
#include "device/WorkerGroup.h"

namespace velmora {
namespace {

// The version in the hub's status block, read over a short open of its own.
std::optional<std::uint16_t> reportedVersion(HubConnection& connection) {
    std::optional<std::uint16_t> version;
    std::array<std::uint8_t, vendor::kStatusBlockLength> status{};
    if (connection.openHub() &&
        VC_ReadStatus(status.data(), vendor::kStatusBlockLength, connection) == kIOReturnSuccess) {
        version = static_cast<std::uint16_t>(status[vendor::kStatusVersionHigh] << 8 |
                                             status[vendor::kStatusVersionLow]);
    }
    connection.closeHub();
    return version;
}

HubRunResult runOnHub(const HubFleet& fleet, const std::string& port, WorkflowReporter& reporter,
                      const HubWorkflow& workflow) {
    HubRunResult result;
    result.portPath = port;
    const Milliseconds start = fleet.clock.now();
    std::unique_ptr<HubConnection> connection = fleet.connect(port);
    {
        // Held from the first open to the last: no other run takes the hub between
        // the version reads and the workflow.
        PortHold hold(*connection);
        result.versionBefore = reportedVersion(*connection);
        result.succeeded =
            workflow(WorkflowContext{reporter, *connection, nullptr, fleet.console, fleet.observer});
        result.versionAfter = reportedVersion(*connection);
    }
    result.duration = fleet.clock.now() - start;
    return result;
}

}  // namespace

std::vector<HubRunResult> runOnHubs(const HubFleet& fleet, const std::vector<std::string>& ports,
                                    const HubWorkflow& workflow) {
    std::vector<HubRunResult> results(ports.size());
    std::vector<std::function<void()>> tasks;
    for (std::size_t index = 0; index < ports.size(); ++index) {
        // Each reporter is looked up here, on the calling thread, before the workers start.
        WorkflowReporter& reporter = fleet.reporterFor(index);
        tasks.emplace_back([&fleet, &ports, &results, &workflow, &reporter, index] {
            results[index] = runOnHub(fleet, ports[index], reporter, workflow);
        });
    }
    WorkerGroup workers(fleet.clock);
    workers.start(tasks);
    workers.join();
    return results;
}

std::vector<std::string> supportedHubPorts(UsbPlatform& platform, const SupportedDeviceTable& table) {
    std::vector<std::string> ports;
    for (const UsbDeviceInfo& device : platform.listDevices()) {
        if (table.IsSupportedHub(device.vendorId, device.productId)) ports.push_back(device.portPath);
    }
    return ports;
}

}  // namespace velmora
