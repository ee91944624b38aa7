#include "production/HubFleet.h"

#include "app/SupportedDeviceTable.h"
#include "device/VendorCommands.h"
#include "device/WorkerGroup.h"

namespace velmora {
namespace {

// The hub's status, read over a short open of its own.
std::optional<HubStatus> reportedStatus(HubConnection& connection) {
    std::optional<HubStatus> status;
    if (connection.openHub()) status = VC_ReadHubStatus(connection);
    connection.closeHub();
    return status;
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
        result.statusBefore = reportedStatus(*connection);
        result.succeeded = workflow(WorkflowContext{reporter, *connection, nullptr, fleet.console,
                                                    fleet.observer, fleet.backups, fleet.runIds});
        result.statusAfter = reportedStatus(*connection);
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
