#pragma once
// One simulated hub in virtual time running version 0100 in its flash code, with a
// history and a backups folder of the test's own: a run that fails on it leaves
// what a real failed run leaves, and recoverHub works on the very same hub.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "backups/BackupStore.h"
#include "device/FlashOperations.h"
#include "device/simulated/HubFaults.h"
#include "environment/HubRecovery.h"
#include "firmware/ImageLayout.h"
#include "history/HistoryDatabase.h"
#include "history/RunRecorder.h"
#include "history/StationFile.h"
#include "tests/support/ScratchFolder.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/EasyUpdate.h"

namespace velmora::testing {

inline constexpr std::uint16_t kOldVersion = 0x0100;
inline constexpr std::uint16_t kNewVersion = 0x0203;
// A whole flash of new image: eight program and eight read-back requests.
inline constexpr std::size_t kNewImageBytes = flash::kFlashPageBytes;

class RecoveryRig : public SimulatedHubFixture {
protected:
    explicit RecoveryRig(sim::FlashTiming timing = {}) : SimulatedHubFixture(timing) {}

    // Every run is recorded and backed up, as the front ends run them.
    WorkflowContext recorded() {
        WorkflowContext result = context();
        result.observer = &recorder_;
        result.backups = &store_;
        return result;
    }

    RecoveryResult recover(const RecoveryConsent& consent = {}) {
        bool missing = false;
        std::string problem;
        const std::shared_ptr<history::StationFile> file =
            history::StationFile::openExisting(historyPath_, missing, problem);
        return recoverHub(recorded(), "1-1",
                          {file ? &file->database() : nullptr, problem, store_, RunOrigin::Real, table_},
                          consent);
    }

    // The whole flash an image leaves: the image, then erased bytes.
    static std::vector<std::uint8_t> flashOf(std::vector<std::uint8_t> image) {
        image.resize(flash::kFlashPageBytes, 0xFF);
        return image;
    }

    std::vector<history::HistoryRecord> rows() {
        std::string error;
        auto database = history::HistoryDatabase::open(historyPath_, error);
        EXPECT_TRUE(database) << error;
        if (!database) return {};
        auto listed = database->list({}, error);
        EXPECT_TRUE(listed) << error;
        return listed.value_or(std::vector<history::HistoryRecord>{});
    }

    std::size_t eraseRequests() const {
        const std::vector<sim::RecordedRequest> requests = hub_->requests();
        return static_cast<std::size_t>(
            std::count_if(requests.begin(), requests.end(), [](const sim::RecordedRequest& request) {
                return sim::classifyRequest(request.setup) == sim::RequestKind::EraseFlash;
            }));
    }

    // An update that loses the hub while it programs the second chunk: the first
    // chunk is in, the configuration block is not, so the hub boots its ROM code.
    void failAnUpdateHalfWay() {
        sim::HubFaults faults;
        faults.disconnect = sim::DisconnectFault{sim::RequestKind::WriteFlash, 2, true};
        hub_->setFaults(faults);
        ASSERT_FALSE(updateFunc(recorded(), parsed(newImage_), "new.bin"));
        hub_->setFaults({});
        waitForTheHub();
        ASSERT_EQ(hub_->runState(), sim::RunState::RomCode);
        ASSERT_NE(hub_->flashContents(), oldFlash_);
    }

    // The new image with a second copy of its block (version 0999) at the start
    // of its second 256-byte page, inside its first program request: a flash cut
    // after that request boots it, under the hub's own IDs, with a wrong version.
    std::vector<std::uint8_t> bootSignatureImage() const {
        std::vector<std::uint8_t> image = newImage_;
        FirmwareBuffer parsed;
        EXPECT_TRUE(FW_Parse(parsed, image.data(), static_cast<std::int64_t>(image.size())));
        const std::size_t from = *parsed.block - image::kVersionBeforeBlock;
        constexpr std::size_t kCopy = 0x100 - image::kVersionBeforeBlock;
        std::copy_n(newImage_.begin() + static_cast<std::ptrdiff_t>(from),
                    image::kVersionBeforeBlock + image::kBlockBytes, image.begin() + kCopy);
        image[kCopy] = 0x09;
        image[kCopy + 1] = 0x99;
        return image;
    }

    // Long enough for a hub that lost its power to be back on the bus.
    void waitForTheHub() { clock_.sleepFor(kRigRebootTime + Milliseconds{500}); }

    ScratchFolder scratch_{"velmora-recovery"};
    std::string historyPath_ = scratch_.path("history.sqlite");
    std::vector<std::string> historyProblems_;
    RunRecorder recorder_{historyPath_, FolderCreation::MustExist, clock_,
                          [this](const std::string& problem) { historyProblems_.push_back(problem); }};
    backups::BackupStore store_{scratch_.path("backups"), FolderCreation::Create, RunOrigin::Real};
    std::vector<std::uint8_t> oldFlash_ = hub_->flashContents();
    std::vector<std::uint8_t> newImage_ = sampleImage(kNewImageBytes, kNewVersion);
};

}  // namespace velmora::testing
