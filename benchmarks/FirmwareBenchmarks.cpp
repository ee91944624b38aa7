// CPU cost of parsing a whole-flash image.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "device/simulated/SampleImage.h"
#include "firmware/FirmwareBuffer.h"

namespace {

void BM_ParseWholeFlashImage(benchmark::State& state) {
    velmora::sim::SampleImageLayout layout;
    layout.vendorId = 0x1A2B;
    layout.superSpeedProductId = 0x3C4D;
    layout.highSpeedProductId = 0x5E6F;
    layout.size = 32768;
    const std::vector<std::uint8_t> image = velmora::sim::makeSampleImage(layout);
    FirmwareBuffer buffer;
    for (auto _ : state) {
        const bool parsed = FW_Parse(buffer, image.data(), static_cast<std::int64_t>(image.size()));
        benchmark::DoNotOptimize(parsed);
        if (!parsed) {
            state.SkipWithError("the sample image did not parse");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.size()));
}
BENCHMARK(BM_ParseWholeFlashImage);

}  // namespace
