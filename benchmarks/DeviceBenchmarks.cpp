// CPU cost of moving a whole flash through the device layer against the
// simulated hub with no device latency: everything measured is our own code.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "device/FlashOperations.h"
#include "device/UsbConnection.h"
#include "tests/support/HubRig.h"

namespace {

using namespace velmora;

// Erase, program, read back and compare 32 KiB.
void BM_EraseProgramVerifyWholeFlash(benchmark::State& state) {
    testing::HubRig rig;  // virtual time: the erase pause costs nothing
    testing::RigHubOptions options;
    options.inFlashCode = false;
    sim::SimulatedHub& hub = rig.addHub(options);
    if (!FL_OpenRomDevice(rig.connection)) {
        state.SkipWithError("the simulated hub could not be opened");
        return;
    }
    const std::vector<std::uint8_t> image = rig.sampleImage(flash::kFlashPageBytes);
    std::vector<std::uint8_t> readBack(image.size());
    for (auto _ : state) {
        const bool verified =
            FL_EraseFlash(rig.connection) && FL_WriteImage(image.data(), image.size(), rig.connection) &&
            FL_ReadImage(readBack.data(), readBack.size(), rig.connection) && readBack == image;
        benchmark::DoNotOptimize(verified);
        if (!verified) {
            state.SkipWithError("the image did not verify");
            break;
        }
        hub.clearRequests();  // the model's request log would grow without end
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.size()));
    USB_CloseHub(rig.connection);
}
BENCHMARK(BM_EraseProgramVerifyWholeFlash);

}  // namespace
