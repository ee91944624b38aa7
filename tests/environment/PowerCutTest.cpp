// The hub's power cut after each request of an update in turn (the handshakes,
// the status reads, the resets, the backup's reads, the erase, each program and
// read-back chunk), then recover: the hub ends in its flash code holding the
// firmware it had when the cut came before the new image was whole in the flash
// and compared (by the run, or by the recovery's read of a hub that boots it),
// and the new image after; nothing else. Among the images, one with a block
// signature at a page start below its own block, which a half-written flash boots.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

#include "device/simulated/HubFaults.h"
#include "tests/environment/RecoveryRig.h"

namespace velmora::testing {
namespace {

// The requests of one uncut update, in order, as the hub saw them: a rig like the
// test's own, recorded and backed up, since the record adds a status read.
std::vector<sim::RequestKind> uncutRun() {
    static const std::vector<sim::RequestKind> kinds = [] {
        HubRig rig;
        RigHubOptions options;
        options.imageVersion = kOldVersion;
        sim::SimulatedHub& hub = rig.addHub(options);
        ScratchFolder scratch{"velmora-uncut"};
        RunRecorder recorder{scratch.path("history.sqlite"), FolderCreation::MustExist, rig.clock,
                             [](const std::string&) {}};
        backups::BackupStore store{scratch.path("backups"), FolderCreation::Create, RunOrigin::Real};
        RecordingReporter reporter;
        const std::vector<std::uint8_t> image = sampleImage(kNewImageBytes, kNewVersion);
        FirmwareBuffer buffer;
        FW_Parse(buffer, image.data(), static_cast<std::int64_t>(image.size()));
        updateFunc({reporter, rig.connection, nullptr, nullptr, &recorder, &store}, buffer, "new.bin");
        std::vector<sim::RequestKind> result;
        for (const sim::RecordedRequest& request : hub.requests())
            result.push_back(sim::classifyRequest(request.setup));
        return result;
    }();
    return kinds;
}

std::vector<int> everyCutPoint() {
    std::vector<int> points(uncutRun().size());
    for (std::size_t index = 0; index < points.size(); ++index) points[index] = static_cast<int>(index) + 1;
    return points;
}

// The number (from 1) of the first or last request of a kind in the uncut run.
int firstOf(sim::RequestKind kind) {
    const std::vector<sim::RequestKind> kinds = uncutRun();
    return static_cast<int>(std::find(kinds.begin(), kinds.end(), kind) - kinds.begin()) + 1;
}
int lastOf(sim::RequestKind kind) {
    const std::vector<sim::RequestKind> kinds = uncutRun();
    return static_cast<int>(kinds.rend() - std::find(kinds.rbegin(), kinds.rend(), kind));
}

using CutCase = std::tuple<bool, int>;  // the boot-signature image; the request the power goes after

// A real hub's flash timing, so the recovery times below are a real hub's.
class PowerCutTest : public RecoveryRig, public ::testing::WithParamInterface<CutCase> {
protected:
    PowerCutTest() : RecoveryRig(sim::kRealisticFlashTiming) {}

    static void TearDownTestSuite() {
        if (worstCut_ == 0) return;
        std::cout << "cut points: " << uncutRun().size() << ", backup written back after " << written_
                  << "; worst recovery " << worstRecovery_.count() << " ms (virtual) after cut " << worstCut_
                  << '\n';
    }

    static inline Milliseconds worstRecovery_{0};
    static inline int worstCut_ = 0;
    static inline int written_ = 0;
};

TEST_P(PowerCutTest, RecoverLeavesTheBackupBeforeTheImageIsWholeAndTheImageAfter) {
    const auto [bootSignature, cut] = GetParam();
    const sim::RequestKind cutAfter = uncutRun()[static_cast<std::size_t>(cut - 1)];
    SCOPED_TRACE("power cut after request " + std::to_string(cut) + ", " +
                 std::string(sim::requestKindName(cutAfter)));
    const std::vector<std::uint8_t> image = bootSignature ? bootSignatureImage() : newImage_;
    sim::HubFaults faults;
    faults.powerCutAfterRequest = cut;
    hub_->setFaults(faults);
    const bool updated = updateFunc(recorded(), parsed(image), "new.bin");
    hub_->setFaults({});
    waitForTheHub();

    const Milliseconds start = clock_.now();
    const RecoveryResult result = recover();
    const Milliseconds took = clock_.now() - start;
    if (result.step == RecoveryStep::Written) ++written_;
    if (took > worstRecovery_) {
        worstRecovery_ = took;
        worstCut_ = cut;
    }

    // Every program request answered: every page of the image is in the flash.
    const bool whole = cut >= lastOf(sim::RequestKind::WriteFlash);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    EXPECT_EQ(hub_->flashContents(), whole ? flashOf(image) : oldFlash_);
    RecoveryStep expected = RecoveryStep::NotInRomCode;  // untouched, or compared by the run itself
    // Cut just before the erase request: the run entered its erase, which never came.
    if (cut == firstOf(sim::RequestKind::EraseFlash) - 1) expected = RecoveryStep::HeldTheBackup;
    if (cut >= firstOf(sim::RequestKind::EraseFlash) && !whole) expected = RecoveryStep::Written;
    if (whole && cut < lastOf(sim::RequestKind::ReadFlash)) expected = RecoveryStep::HeldTheImage;
    if (updated) expected = RecoveryStep::NotInRomCode;
    EXPECT_EQ(result.step, expected) << result.problem;

    const std::vector<history::HistoryRecord> runs = rows();
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs[0].operation, "update");
    // Only a cut after the last reset's request can leave the run passing: the hub
    // was on its way into the new firmware anyway. A recovery's read that finds
    // the image whole records the run as finished.
    if (cut < lastOf(sim::RequestKind::ResetToFlashCode)) {
        EXPECT_FALSE(updated);
    }
    EXPECT_EQ(runs[0].result == history::kResultSuccess, updated || expected == RecoveryStep::HeldTheImage);
    if (result.step == RecoveryStep::Written) {
        EXPECT_EQ(runs.back().operation, "recover");
        EXPECT_EQ(runs.back().result, history::kResultSuccess);
        EXPECT_EQ(runs.back().recoveredRun, runs[0].runUuid);
    }
}

INSTANTIATE_TEST_SUITE_P(AfterEveryRequestOfAnUpdate, PowerCutTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(everyCutPoint())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "BootSignature" : "Sample") +
                                    "Request" + std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace velmora::testing
