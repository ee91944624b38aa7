// Wall time of whole updates against simulated hubs with a real hub's timing
// (flash busy times and reboots), in real time: how the time of one hub grows
// with hubs updated side by side, and how close the waits that end on the hub's
// arrival bring one update to the hub's own busy time, against fixed waits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/FlashOperations.h"
#include "device/simulated/SimulatedUsbPlatform.h"
#include "firmware/FirmwareBuffer.h"
#include "production/HubFleet.h"
#include "tests/support/FixedWaitPlatform.h"
#include "tests/support/HubRig.h"
#include "tests/support/SilentReporter.h"
#include "workflows/EasyUpdate.h"

namespace {

using namespace velmora;

constexpr std::size_t kImageBytes = flash::kFlashPageBytes;

// The hub model's own busy time for one update: the reboots into ROM code and
// back, the erase, and every program and read unit.
Milliseconds hubBusyTime() {
    const auto units = static_cast<long>(kImageBytes / flash::kTransferUnitBytes);
    const sim::FlashTiming& timing = sim::kRealisticFlashTiming;
    return 2 * sim::kDefaultRebootTime + timing.erase + units * (timing.programPerUnit + timing.readPerUnit);
}

// Hubs of a real hub's timing on a bus in real time, and their update.
struct RealTimeHubs {
    explicit RealTimeHubs(int count) {
        table.set(0, testing::kShippedHubIdentity.vid, testing::kShippedHubIdentity.sspid,
                  testing::kShippedHubIdentity.hspid);
        const std::vector<std::uint8_t> old =
            testing::sampleImageFor(testing::kShippedHubIdentity, kImageBytes);
        for (int port = 1; port <= count; ++port) {
            sim::SimulatedHubConfig config;
            config.vendorId = testing::kShippedHubIdentity.vid;
            config.superSpeedProductId = testing::kShippedHubIdentity.sspid;
            config.highSpeedProductId = testing::kShippedHubIdentity.hspid;
            config.portPath = "1-" + std::to_string(port);
            config.flashTiming = sim::kRealisticFlashTiming;
            bus.addHub(config).loadFlashImage(old);
            ports.push_back(config.portPath);
        }
        const std::vector<std::uint8_t> bytes =
            testing::sampleImageFor(testing::kShippedHubIdentity, kImageBytes, 0x0203);
        FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }

    bool updateAll(UsbPlatform& through) {
        std::vector<testing::SilentReporter> reporters(ports.size());
        const HubFleet fleet{clock,
                             [&](const std::string& port) {
                                 return std::make_unique<HubConnection>(through, table, clock, port);
                             },
                             [&](std::size_t index) -> WorkflowReporter& { return reporters[index]; },
                             nullptr};
        const std::vector<HubRunResult> results = runOnHubs(
            fleet, ports,
            [this](const WorkflowContext& context) { return updateFunc(context, image, "bench.bin"); });
        for (const HubRunResult& result : results)
            if (!result.succeeded) return false;
        return true;
    }

    SystemClock clock;
    SupportedDeviceTable table;
    sim::SimulatedBus bus{clock};
    sim::SimulatedUsbPlatform platform{bus};
    std::vector<std::string> ports;
    FirmwareBuffer image;
};

// (a) 1, 2, 4 and 8 hubs updated at once: the wall time of the whole batch.
void BM_UpdateHubsAtOnce(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        RealTimeHubs hubs(static_cast<int>(state.range(0)));
        state.ResumeTiming();
        if (!hubs.updateAll(hubs.platform)) {
            state.SkipWithError("an update failed");
            break;
        }
    }
    state.counters["hubs"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_UpdateHubsAtOnce)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// (b) One hub: waits that end on the hub's arrival (0) against the fixed poll
// schedule (1), each with the hub model's own busy time and the ratio to it.
void BM_OneHubUpdate(benchmark::State& state) {
    const bool fixedWaits = state.range(0) == 1;
    for (auto _ : state) {
        state.PauseTiming();
        RealTimeHubs hubs(1);
        testing::FixedWaitPlatform fixed(hubs.platform);
        UsbPlatform& through = fixedWaits ? static_cast<UsbPlatform&>(fixed) : hubs.platform;
        state.ResumeTiming();
        if (!hubs.updateAll(through)) {
            state.SkipWithError("the update failed");
            break;
        }
    }
    state.counters["busy_ms"] = static_cast<double>(hubBusyTime().count());
    state.SetLabel(fixedWaits ? "fixed waits" : "waits end on arrival");
}
BENCHMARK(BM_OneHubUpdate)->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
