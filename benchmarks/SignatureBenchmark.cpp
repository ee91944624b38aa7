// The decision on a signed 32 KiB image, whole, as a front end takes it before
// any hub request: the trust store read (two trusted keys, a revocation list),
// the signature file read and parsed, the signature and its trusted comment
// checked. Target: under 5 ms.
#include <benchmark/benchmark.h>

#include "tests/signing/SigningRig.h"

namespace {

using velmora::signing::SignatureState;

void BM_JudgeSignedImage(benchmark::State& state) {
    const velmora::testing::SigningRig rig;
    rig.trustedKey("release-2025");
    const velmora::signing::KeyPair current = rig.trustedKey("release-2026");
    rig.revoke(rig.untrustedKey().publicKey.id);
    const std::string image = rig.image("fw.bin");
    rig.sign(image, current);
    for (auto _ : state) {
        const velmora::signing::SignatureVerdict verdict = rig.judge(image);
        if (verdict.state != SignatureState::Trusted) {
            state.SkipWithError(verdict.reason.c_str());
            break;
        }
        benchmark::DoNotOptimize(verdict);
    }
}
BENCHMARK(BM_JudgeSignedImage)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
