// CPU cost of parsing a whole-flash image.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "firmware/FirmwareBuffer.h"
#include "tests/support/HubRig.h"

namespace {

void BM_ParseWholeFlashImage(benchmark::State& state) {
    const std::vector<std::uint8_t> image =
        velmora::testing::sampleImageFor(velmora::testing::kShippedHubIdentity, 32768);
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
