// CPU cost of moving a whole flash through the device layer against the
// simulated hub with no device latency: everything measured is our own code.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/FlashOperations.h"
#include "device/HubConnection.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"
#include "device/simulated/SampleImage.h"
#include "device/simulated/SimulatedEnvironment.h"

namespace {

using namespace velmora;

constexpr std::uint16_t kVendorId = 0x1A2B;
constexpr std::uint16_t kSuperSpeedId = 0x3C4D;
constexpr std::uint16_t kHighSpeedId = 0x5E6F;

std::vector<std::uint8_t> wholeFlashImage() {
    sim::SampleImageLayout layout;
    layout.vendorId = kVendorId;
    layout.superSpeedProductId = kSuperSpeedId;
    layout.highSpeedProductId = kHighSpeedId;
    layout.size = flash::kFlashPageBytes;
    return sim::makeSampleImage(layout);
}

bool moveImage(HubConnection& connection, const std::vector<std::uint8_t>& image,
               std::vector<std::uint8_t>& readBack) {
    for (std::size_t offset = 0; offset < image.size(); offset += flash::kTransferUnitBytes) {
        const auto length = static_cast<std::uint16_t>(flash::chunkLength(image.size(), offset));
        if (VC_WriteFlash(static_cast<std::uint32_t>(offset), image.data() + offset, length, connection) !=
            kIOReturnSuccess)
            return false;
    }
    for (std::size_t offset = 0; offset < image.size(); offset += flash::kTransferUnitBytes) {
        const auto length = static_cast<std::uint16_t>(flash::chunkLength(image.size(), offset));
        if (VC_ReadFlash(static_cast<std::uint32_t>(offset), readBack.data() + offset, length, connection) !=
            kIOReturnSuccess)
            return false;
    }
    return readBack == image;
}

// Erase, program, read back and compare 32 KiB.
void BM_EraseProgramVerifyWholeFlash(benchmark::State& state) {
    VirtualClock clock;  // the erase pause costs no real time
    SupportedDeviceTable table;
    table.set(0, kVendorId, kSuperSpeedId, kHighSpeedId);
    auto environment = sim::SimulatedEnvironment::create(table, clock, "rom-code", Milliseconds{0});
    HubConnection connection(environment->platform(), table, clock);
    if (!FL_OpenRomDevice(connection)) {
        state.SkipWithError("the simulated hub could not be opened");
        return;
    }
    const std::vector<std::uint8_t> image = wholeFlashImage();
    std::vector<std::uint8_t> readBack(image.size());
    for (auto _ : state) {
        const bool verified = FL_EraseFlash(connection) && moveImage(connection, image, readBack);
        benchmark::DoNotOptimize(verified);
        if (!verified) {
            state.SkipWithError("the image did not verify");
            break;
        }
        environment->hub()->clearRequests();  // the model's request log would grow without end
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.size()));
    USB_CloseHub(connection);
}
BENCHMARK(BM_EraseProgramVerifyWholeFlash);

}  // namespace
