// The backup before every erase, against the simulated hub: the flash is read
// twice in ROM code before the erase request, kept by its SHA-256 with an index
// entry, and a backup that cannot be taken stops the run with nothing erased.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Sha256.h"
#include "backups/BackupStore.h"
#include "device/FlashOperations.h"
#include "device/simulated/HubFaults.h"
#include "history/HistoryRecord.h"
#include "tests/support/ScratchFolder.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashPage.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

class FlashBackupTest : public SimulatedHubFixture {
protected:
    WorkflowContext backedUpContext() {
        WorkflowContext result = context();
        result.backups = &store_;
        return result;
    }

    std::vector<sim::RequestKind> kindsBeforeErase() const {
        std::vector<sim::RequestKind> kinds;
        for (const sim::RecordedRequest& request : hub_->requests()) {
            const sim::RequestKind kind = sim::classifyRequest(request.setup);
            if (kind == sim::RequestKind::EraseFlash) break;
            if (kind == sim::RequestKind::ReadFlash) kinds.push_back(kind);
        }
        return kinds;
    }

    bool erased() const {
        const std::vector<sim::RecordedRequest> requests = hub_->requests();
        return std::any_of(requests.begin(), requests.end(), [](const sim::RecordedRequest& request) {
            return sim::classifyRequest(request.setup) == sim::RequestKind::EraseFlash;
        });
    }

    ScratchFolder scratch_{"velmora-backup"};
    backups::BackupStore store_{scratch_.path("backups"), FolderCreation::Create, RunOrigin::Real};
};

TEST_F(FlashBackupTest, UpdateKeepsTheOldFlashBeforeItErases) {
    const std::vector<std::uint8_t> before = hub_->flashContents();
    const FirmwareBuffer image = parsed(sampleImage(8192, 0x0203));

    ASSERT_TRUE(updateFunc(backedUpContext(), image, "new.bin"));

    // Two whole reads of the flash, eight chunks each, all before the erase request.
    EXPECT_EQ(kindsBeforeErase().size(), 2 * flash::kFlashPageBytes / flash::kTransferUnitBytes);
    // No new line in the pane.
    EXPECT_EQ(reporter_.pane,
              "FW:new.bin(size=8192)\n\nErase Flash...\nWrite Flash...\nRead Flash...\nVerify Flash...\n"
              "Reset to Flash Code...\nUpdate FW Success\n");

    std::string error;
    const auto entries = store_.list(error);
    ASSERT_TRUE(entries) << error;
    ASSERT_EQ(entries->size(), 1u);
    const backups::BackupEntry& entry = entries->front();
    EXPECT_EQ(entry.port, "1-1");
    EXPECT_EQ(entry.version, "0100");
    EXPECT_EQ(entry.hubIds, "2FE3:0611:0610");
    EXPECT_EQ(entry.result, history::kResultSuccess);
    EXPECT_EQ(entry.sha256, sha256Hex(before.data(), flash::kFlashPageBytes));
    const auto kept = store_.load(entry.sha256, error);
    ASSERT_TRUE(kept) << error;
    EXPECT_TRUE(std::equal(kept->begin(), kept->end(), before.begin()));

    // Private files in a private folder.
    struct stat info {};
    ASSERT_EQ(::stat(store_.folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((store_.folder() + "/" + entry.sha256).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(FlashBackupTest, TheSameFlashIsKeptOnceWithAnEntryPerRun) {
    // The hub already holds what the run writes back: both backups have one content.
    ASSERT_TRUE(updateFunc(backedUpContext(), parsed(hub_->flashContents()), "same.bin"));
    ASSERT_TRUE(updateFunc(backedUpContext(), parsed(hub_->flashContents()), "same.bin"));
    std::string error;
    const auto entries = store_.list(error);
    ASSERT_TRUE(entries) << error;
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ(entries->at(0).sha256, entries->at(1).sha256);
    std::size_t contents = 0;
    for (const auto& item : fs::directory_iterator(store_.folder()))
        contents += item.path().extension().empty() ? 1 : 0;
    EXPECT_EQ(contents, 1u);
}

struct BackupFault {
    const char* name;
    bool flakyRead;  // else the store cannot be written
};

class FlashBackupFailureTest : public FlashBackupTest, public ::testing::WithParamInterface<BackupFault> {};

TEST_P(FlashBackupFailureTest, StopsTheRunBeforeTheErase) {
    const std::vector<std::uint8_t> before = hub_->flashContents();
    backups::BackupStore blocked(scratch_.path("not-a-folder"), FolderCreation::MustExist, RunOrigin::Real);
    WorkflowContext runContext = backedUpContext();
    if (GetParam().flakyRead) {
        sim::HubFaults faults;
        faults.shortAnswers.push_back({sim::RequestKind::ReadFlash, 1});
        hub_->setFaults(faults);
    } else {
        std::ofstream(scratch_.path("not-a-folder")) << "a file";
        runContext.backups = &blocked;
    }

    EXPECT_FALSE(updateFunc(runContext, parsed(sampleImage(8192, 0x0203)), "new.bin"));

    // The reason in the pane, and the hub back in the firmware it kept.
    EXPECT_TRUE(reporter_.pane.starts_with(
        "FW:new.bin(size=8192)\n\nFail to back up flash\nThe flash was not kept ("))
        << reporter_.pane;
    EXPECT_TRUE(reporter_.pane.ends_with("); nothing was erased\nUpdate FW Fail\n")) << reporter_.pane;
    EXPECT_EQ(reporter_.colour, PaneColour::Red);
    EXPECT_FALSE(erased());
    EXPECT_EQ(hub_->flashContents(), before);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    expectCleanEnding();
}

INSTANTIATE_TEST_SUITE_P(EachCause, FlashBackupFailureTest,
                         ::testing::Values(BackupFault{"FlakyRead", true},
                                           BackupFault{"StoreUnusable", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashBackupTest, FlashPageEraseBacksUpToo) {
    const std::vector<std::uint8_t> before = hub_->flashContents();
    ASSERT_TRUE(eraseFunc_FwFlash(backedUpContext()));
    EXPECT_EQ(kindsBeforeErase().size(), 16u);
    std::string error;
    const auto entries = store_.list(error);
    ASSERT_TRUE(entries && entries->size() == 1) << error;
    EXPECT_EQ(entries->front().sha256, sha256Hex(before.data(), flash::kFlashPageBytes));
}

TEST_F(FlashBackupTest, NoStoreMeansNoExtraRequests) {
    ASSERT_TRUE(eraseFunc_FwFlash(context()));
    EXPECT_TRUE(kindsBeforeErase().empty());
}

}  // namespace
}  // namespace velmora::testing
