// What the backup before the erase costs one update: the run's length in the
// hub's time (virtual, with a real hub's flash timing) with and without the
// backup, and the ratio between them, which must stay at or under 1.10.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "backups/BackupStore.h"
#include "device/FlashOperations.h"
#include "tests/support/HubRig.h"
#include "tests/support/ScratchFolder.h"
#include "tests/workflows/RecordingReporter.h"
#include "workflows/EasyUpdate.h"

namespace {

using namespace velmora;

// One update on a hub with a real hub's flash timing; its length in the hub's time.
double updateMilliseconds(backups::BackupStore* store) {
    testing::HubRig rig;
    testing::RigHubOptions options;
    options.flashTiming = sim::kRealisticFlashTiming;
    rig.addHub(options);
    FirmwareBuffer image;
    const std::vector<std::uint8_t> bytes = rig.sampleImage(flash::kFlashPageBytes, 0x0203);
    FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    testing::RecordingReporter reporter;
    WorkflowContext context{reporter, rig.connection, nullptr};
    context.backups = store;
    const Milliseconds start = rig.clock.now();
    if (!updateFunc(context, image, "new.bin")) return -1;
    return static_cast<double>((rig.clock.now() - start).count());
}

void BM_UpdateWithBackup(benchmark::State& state) {
    testing::ScratchFolder folder("velmora-bench-backup");
    backups::BackupStore store(folder.path("backups"), FolderCreation::Create, RunOrigin::Real);
    double without = 0;
    double with = 0;
    for (auto _ : state) {
        without = updateMilliseconds(nullptr);
        with = updateMilliseconds(&store);
        if (without <= 0 || with <= 0) {
            state.SkipWithError("the update failed");
            break;
        }
    }
    state.counters["hub_ms_without_backup"] = without;
    state.counters["hub_ms_with_backup"] = with;
    state.counters["ratio"] = with / without;
}
BENCHMARK(BM_UpdateWithBackup)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
