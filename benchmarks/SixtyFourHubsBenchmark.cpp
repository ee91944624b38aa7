// One host flashing 64 hubs: the sixty-four-hubs scenario (four buses, the hubs
// behind hubs) with a real hub's timing, in real time. update --all's fleet on
// one hub and on all 64: the wall time of the batch, and what each hub's work
// costs the host, the process's CPU time over the run divided by hubs x wall time.
//
//     build/benchmarks/velmora_benchmarks --benchmark_filter=SixtyFourHubs
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/FlashOperations.h"
#include "device/simulated/SimulatedUsbPlatform.h"
#include "device/simulated/SimulationScenarios.h"
#include "firmware/FirmwareBuffer.h"
#include "production/HubFleet.h"
#include "tests/support/HubRig.h"
#include "tests/support/SilentReporter.h"
#include "workflows/EasyUpdate.h"

namespace {

using namespace velmora;

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Arg: how many of the scenario's 64 hubs are updated at once.
void BM_SixtyFourHubsUpdate(benchmark::State& state) {
    const auto hubs = static_cast<std::size_t>(state.range(0));
    double cpuSeconds = 0;
    double wallSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SystemClock clock;
        sim::SimulatedBus bus{clock};
        const testing::HubIdentity identity = testing::kShippedHubIdentity;
        sim::applySimulationScenario("sixty-four-hubs", bus,
                                     {1, identity.vid, identity.sspid, identity.hspid});
        sim::SimulatedUsbPlatform platform{bus};
        SupportedDeviceTable table;
        table.set(0, identity.vid, identity.sspid, identity.hspid);
        FirmwareBuffer image;
        const std::vector<std::uint8_t> bytes =
            testing::sampleImageFor(identity, flash::kFlashPageBytes, 0x0203);
        FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
        std::vector<std::string> ports = sim::sixtyFourHubPorts();
        ports.resize(hubs);
        std::vector<testing::SilentReporter> reporters(hubs);
        const HubFleet fleet{clock,
                             [&](const std::string& port) {
                                 return std::make_unique<HubConnection>(platform, table, clock, port);
                             },
                             [&](std::size_t index) -> WorkflowReporter& { return reporters[index]; },
                             nullptr};
        state.ResumeTiming();
        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        const std::vector<HubRunResult> results = runOnHubs(
            fleet, ports,
            [&image](const WorkflowContext& context) { return updateFunc(context, image, "64.bin"); });
        wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        cpuSeconds += processCpuSeconds() - cpuBefore;
        for (const HubRunResult& result : results)
            if (!result.succeeded) state.SkipWithError("an update failed");
    }
    state.counters["hubs"] = static_cast<double>(hubs);
    // The share of one core each hub's work takes, in percent.
    state.counters["cpu_per_hub_pct"] = 100.0 * cpuSeconds / (static_cast<double>(hubs) * wallSeconds);
}
BENCHMARK(BM_SixtyFourHubsUpdate)
    ->Arg(1)
    ->Arg(64)
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
