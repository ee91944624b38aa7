// The hub's power cut after each request of an update in turn (the handshakes,
// the status reads, the resets, the backup's reads, the erase, each program and
// read-back chunk), then recover: whatever the cut, the hub ends in its flash
// code holding either the firmware it had or the new image, nothing else, and the
// history tells the cut run and the recovery apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
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

// A real hub's flash timing, so the recovery times below are a real hub's.
class PowerCutTest : public RecoveryRig, public ::testing::WithParamInterface<int> {
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

TEST_P(PowerCutTest, RecoverLeavesTheOldFirmwareOrTheNewNeverAnythingElse) {
    const int cut = GetParam();
    const sim::RequestKind cutAfter = uncutRun()[static_cast<std::size_t>(cut - 1)];
    SCOPED_TRACE("power cut after request " + std::to_string(cut) + ", " +
                 std::string(sim::requestKindName(cutAfter)));
    sim::HubFaults faults;
    faults.powerCutAfterRequest = cut;
    hub_->setFaults(faults);
    const bool updated = updateFunc(recorded(), parsed(newImage_), "new.bin");
    hub_->setFaults({});
    waitForTheHub();

    const bool erased = cut >= firstOf(sim::RequestKind::EraseFlash);
    const bool imageComplete = cut >= lastOf(sim::RequestKind::WriteFlash);
    const std::size_t erasesBefore = eraseRequests();
    const Milliseconds start = clock_.now();
    const RecoveryResult result = recover();
    const Milliseconds took = clock_.now() - start;
    if (result.step == RecoveryStep::Written) ++written_;
    if (took > worstRecovery_) {
        worstRecovery_ = took;
        worstCut_ = cut;
    }

    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    const std::vector<std::uint8_t> flash = hub_->flashContents();
    if (erased && !imageComplete) {
        // Erased and not yet whole: no configuration block, so ROM code; the backup goes back.
        EXPECT_EQ(result.step, RecoveryStep::Written) << result.problem;
        EXPECT_EQ(flash, oldFlash_);
    } else {
        // Nothing to do: the old firmware untouched, or the new image whole
        // (every program request answered, so every page in it).
        EXPECT_EQ(result.step, RecoveryStep::NotInRomCode);
        EXPECT_EQ(eraseRequests(), erasesBefore);
        EXPECT_EQ(flash, imageComplete ? flashOf(newImage_) : oldFlash_);
    }

    const std::vector<history::HistoryRecord> runs = rows();
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs[0].operation, "update");
    // Only a cut after the last reset's request can leave the run passing: the hub
    // was on its way into the new firmware anyway.
    if (cut < lastOf(sim::RequestKind::ResetToFlashCode)) {
        EXPECT_FALSE(updated);
        EXPECT_NE(runs[0].result, history::kResultSuccess);
    }
    EXPECT_EQ(runs[0].result == history::kResultSuccess, updated);
    if (result.step == RecoveryStep::Written) {
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_EQ(runs[1].operation, "recover");
        EXPECT_EQ(runs[1].result, history::kResultSuccess);
        EXPECT_EQ(runs[1].recoveredRun, runs[0].runUuid);
    } else {
        EXPECT_EQ(runs.size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(AfterEveryRequestOfAnUpdate, PowerCutTest, ::testing::ValuesIn(everyCutPoint()),
                         [](const auto& info) { return "Request" + std::to_string(info.param); });

}  // namespace
}  // namespace velmora::testing
