// Recovery on one hub that a failed run really left in ROM code: the flash erased
// and half written, the run in the history with its backup, and recoverHub
// writing that backup back on the same hub.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/simulated/HubFaults.h"
#include "tests/environment/RecoveryRig.h"

namespace velmora::testing {
namespace {

class HubRecoveryTest : public RecoveryRig {};

TEST_F(HubRecoveryTest, WritesTheBackupBackAndRecordsWhichRunItRecovered) {
    failAnUpdateHalfWay();
    std::string finding;
    const RecoveryResult result = recover([&finding](const RecoveryFinding& found) {
        finding = recoveryFindingLine(found);
        return true;
    });

    EXPECT_EQ(result.step, RecoveryStep::Written) << result.problem;
    EXPECT_EQ(hub_->flashContents(), oldFlash_);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    EXPECT_EQ(hub_->imageVersion(), kOldVersion);
    EXPECT_TRUE(finding.starts_with("1-1: left in ROM code by an update at ")) << finding;
    EXPECT_TRUE(
        finding.ends_with(" UTC that stopped at Write Flash; its backup from before holds version 0100"))
        << finding;

    const std::vector<history::HistoryRecord> runs = rows();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].operation, "update");
    EXPECT_EQ(runs[0].result, history::kResultFailure);
    EXPECT_FALSE(runs[0].backupSha256.empty());
    EXPECT_EQ(runs[1].operation, "recover");
    EXPECT_EQ(runs[1].result, history::kResultSuccess);
    EXPECT_EQ(runs[1].recoveredRun, runs[0].runUuid);
    EXPECT_EQ(runs[1].versionAfter, "0100");
    EXPECT_TRUE(historyProblems_.empty());

    // Back in its flash code, the hub needs nothing more.
    const std::size_t erases = eraseRequests();
    EXPECT_EQ(recover().step, RecoveryStep::NotInRomCode);
    EXPECT_EQ(eraseRequests(), erases);
}

// A recovery that fails itself kept a backup of the broken flash; the next
// recovery must still write back the firmware the hub had before the first run.
TEST_F(HubRecoveryTest, AFailedRecoveryDoesNotReplaceTheBackupThatRecovers) {
    failAnUpdateHalfWay();
    SimulatedHubs::failNext(*hub_, sim::RequestKind::WriteFlash, 1);
    EXPECT_EQ(recover().step, RecoveryStep::WriteFailed);
    hub_->setFaults({});
    ASSERT_EQ(hub_->runState(), sim::RunState::RomCode);

    EXPECT_EQ(recover().step, RecoveryStep::Written);
    EXPECT_EQ(hub_->flashContents(), oldFlash_);
    const std::vector<history::HistoryRecord> runs = rows();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[2].recoveredRun, runs[0].runUuid);
}

// A run that stopped before its erase (here its backup could not be read, and
// the reset back failed too) left the hub in ROM code with its firmware whole:
// the reset it never sent is all the hub needs, and nothing is written.
TEST_F(HubRecoveryTest, AHubLeftBeforeTheEraseIsOnlyResetIntoItsFlashCode) {
    SimulatedHubs::failNext(*hub_, sim::RequestKind::ReadFlash, 1);
    SimulatedHubs::failNext(*hub_, sim::RequestKind::ResetToFlashCode, 3);
    ASSERT_FALSE(updateFunc(recorded(), parsed(newImage_), "new.bin"));
    hub_->setFaults({});
    ASSERT_EQ(hub_->runState(), sim::RunState::RomCode);

    std::string finding;
    const RecoveryResult result = recover([&finding](const RecoveryFinding& found) {
        finding = recoveryFindingLine(found);
        return true;
    });

    EXPECT_EQ(result.step, RecoveryStep::Reset);
    EXPECT_TRUE(
        finding.ends_with(" that stopped at the backup, before anything was erased: reset into its "
                          "flash code"))
        << finding;
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    EXPECT_EQ(hub_->flashContents(), oldFlash_);
    EXPECT_EQ(eraseRequests(), 0u);
    EXPECT_EQ(rows().size(), 1u);
}

// A simulated hub's failed run, kept in the same history and backups, never
// stands for the real hub on the same port.
TEST_F(HubRecoveryTest, ABenchRunIsNeverRecoveredOntoARealHub) {
    RunRecorder bench(historyPath_, FolderCreation::MustExist, clock_, {}, {"", RunOrigin::Simulated});
    WorkflowContext simulated = recorded();
    simulated.observer = &bench;
    sim::HubFaults faults;
    faults.disconnect = sim::DisconnectFault{sim::RequestKind::WriteFlash, 2, true};
    hub_->setFaults(faults);
    ASSERT_FALSE(updateFunc(simulated, parsed(newImage_), "new.bin"));
    hub_->setFaults({});
    waitForTheHub();
    ASSERT_EQ(hub_->runState(), sim::RunState::RomCode);
    const std::vector<std::uint8_t> broken = hub_->flashContents();

    EXPECT_EQ(recover().step, RecoveryStep::NoRunToRecover);
    EXPECT_EQ(hub_->flashContents(), broken);
}

// Killed in its final reset: the image was whole and its compare passed, so
// writing the backup over it would undo a verified update.
TEST_F(HubRecoveryTest, AfterAPassedCompareTheHubIsOnlyReset) {
    SimulatedHubs::failNext(*hub_, sim::RequestKind::ResetToFlashCode, 3);
    ASSERT_FALSE(updateFunc(recorded(), parsed(newImage_), "new.bin"));
    hub_->setFaults({});
    ASSERT_EQ(hub_->runState(), sim::RunState::RomCode);

    std::string finding;
    const RecoveryResult result = recover([&finding](const RecoveryFinding& found) {
        finding = recoveryFindingLine(found);
        return true;
    });

    EXPECT_EQ(result.step, RecoveryStep::Reset);
    EXPECT_TRUE(
        finding.ends_with("after its compare passed: the flash holds its image; reset into its flash code"))
        << finding;
    EXPECT_EQ(hub_->imageVersion(), kNewVersion);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    EXPECT_EQ(eraseRequests(), 1u);
}

// An image with a block signature at a page start below its own block: cut
// after its first program request, the flash boots that page as its flash code
// with a wrong version, and only reading the flash tells. Cut after its last,
// the image is whole: the run is recorded as finished and nothing is written.
TEST_F(HubRecoveryTest, AHubThatBootsAHalfWrittenFlashIsExamined) {
    const std::vector<std::uint8_t> image = bootSignatureImage();
    struct Case {
        int flashRequests;  // the erase and the program requests answered before the cut
        RecoveryStep step;
        bool holdsTheImage;
    };
    for (const Case& each :
         {Case{2, RecoveryStep::Written, false}, Case{9, RecoveryStep::HeldTheImage, true}}) {
        SCOPED_TRACE(each.flashRequests);
        hub_->loadFlashImage(oldFlash_);
        sim::HubFaults faults;
        faults.powerCutAfterFlashRequest = each.flashRequests;
        hub_->setFaults(faults);
        ASSERT_FALSE(updateFunc(recorded(), parsed(image), "new.bin"));
        hub_->setFaults({});
        waitForTheHub();
        ASSERT_EQ(hub_->runState(), sim::RunState::FlashCode);
        EXPECT_EQ(hub_->imageVersion(), each.holdsTheImage ? kNewVersion : 0x0999);

        const std::size_t erases = eraseRequests();
        EXPECT_EQ(recover().step, each.step) << reporter_.pane;
        EXPECT_EQ(hub_->flashContents(), each.holdsTheImage ? flashOf(image) : oldFlash_);
        EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
        EXPECT_EQ(eraseRequests(), erases + (each.holdsTheImage ? 0u : 1u));
        // The hub needs nothing more.
        EXPECT_EQ(recover().step, RecoveryStep::NotInRomCode);
    }
    // Two updates (the first recovered, the second finished by the recovery's
    // read), each followed by the read that examined it, and one recovery.
    std::vector<std::string> seen;
    for (const history::HistoryRecord& run : rows()) seen.push_back(run.operation + ":" + run.result);
    EXPECT_EQ(seen, (std::vector<std::string>{"update:failure", "read:success", "recover:success",
                                              "update:success", "read:success"}));
}

TEST_F(HubRecoveryTest, WritesNothingWithoutARunToRecoverOrWithoutConsent) {
    // In ROM code with no run recorded on its port.
    hub_->setRunState(sim::RunState::RomCode);
    RecoveryResult result = recover();
    EXPECT_EQ(result.step, RecoveryStep::NoRunToRecover);
    EXPECT_EQ(eraseRequests(), 0u);

    hub_->setRunState(sim::RunState::FlashCode);
    failAnUpdateHalfWay();
    const std::vector<std::uint8_t> broken = hub_->flashContents();
    const std::size_t erases = eraseRequests();
    result = recover([](const RecoveryFinding&) { return false; });
    EXPECT_EQ(result.step, RecoveryStep::Declined);
    EXPECT_EQ(eraseRequests(), erases);
    EXPECT_EQ(hub_->flashContents(), broken);
}

}  // namespace
}  // namespace velmora::testing
