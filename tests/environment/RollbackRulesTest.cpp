// The rules a rollback writes by: which bytes may go into a hub (a backup
// without firmware only when named and confirmed, never a file that is no
// image), and which backup the runs on a hub since its last pass call for.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "environment/HubRecovery.h"
#include "environment/WrittenBytes.h"
#include "history/HistoryRecord.h"
#include "tests/support/HubRig.h"

namespace velmora::testing {
namespace {

std::vector<std::uint8_t> withIds(std::uint16_t sspid) {
    HubIdentity identity = kShippedHubIdentity;
    identity.sspid = sspid;
    return sampleImageFor(identity, 32768, 0x0102);
}

TEST(WrittenBytes, OnlyAFirmwareTheHubIsFoundWithOrBytesConfirmedAsNone) {
    SupportedDeviceTable table;
    table.set(0, kShippedHubIdentity.vid, kShippedHubIdentity.sspid, kShippedHubIdentity.hspid);
    const std::vector<std::uint8_t> image = sampleImageFor(kShippedHubIdentity, 32768, 0x0102);
    std::vector<std::uint8_t> blockless(32768, 0x00);
    const std::vector<std::uint8_t> blank(32768, 0xFF);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool confirmed;
        ImageRefusal refusal;
        const char* reasonPart;
    };
    const std::vector<Case> cases = {
        {"firmware", image, false, ImageRefusal::None, ""},
        {"one byte", {0x55}, true, ImageRefusal::TooShort, "too short"},
        {"nothing", {}, true, ImageRefusal::Empty, "is empty"},
        {"over the flash", std::vector<std::uint8_t>(32769, 0xFF), true, ImageRefusal::LargerThanFlash,
         "larger"},
        {"no block", blockless, false, ImageRefusal::NoConfigurationBlock, "add --blank"},
        {"blank", blank, false, ImageRefusal::NoConfigurationBlock, "blank flash"},
        {"no block, confirmed", blockless, true, ImageRefusal::None, ""},
        {"blank, confirmed", blank, true, ImageRefusal::None, ""},
        {"unlisted IDs", withIds(0x0999), true, ImageRefusal::UnlistedIds, "does not list"},
        {"no block, no whole flash", std::vector<std::uint8_t>(1024, 0x00), true,
         ImageRefusal::NoConfigurationBlock, "is no whole flash"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        const BytesAdmission admission = admitWrittenBytes({each.name, each.bytes, each.confirmed}, table);
        EXPECT_EQ(admission.refusal, each.refusal);
        EXPECT_NE(admission.reason.find(each.reasonPart), std::string::npos) << admission.reason;
        if (admission.admitted()) {
            EXPECT_EQ(admission.image.data, each.bytes);
        }
    }
}

history::HistoryRecord run(std::int64_t id, const char* result, const char* phases, const char* backup = "",
                           const char* operation = "update") {
    history::HistoryRecord record;
    record.id = id;
    record.operation = operation;
    record.result = result;
    record.phases = phases;
    record.backupSha256 = backup;
    return record;
}

history::HistoryRecord comeBackInRomCode(history::HistoryRecord record) {
    record.failure =
        "Fail to start the firmware written: the hub came back running its ROM code (0001), not "
        "flash code version 0203\n";
    return record;
}

constexpr const char* kFail = history::kResultFailure;
constexpr const char* kPass = history::kResultSuccess;
constexpr const char* kCut = history::kResultUnfinished;
constexpr const char* kToWrite = "open=1;backup=1;erase=1;write";
constexpr const char* kToReset = "open=1;backup=1;erase=1;write=1;read=1;verify=1;reset";

TEST(Rollback, TheBackupFromBeforeTheFirstBrokenFlashOrAResetAfterAPassedCompare) {
    using Action = Rollback::Action;
    struct Case {
        const char* name;
        std::vector<history::HistoryRecord> runs;
        Action action;
        std::int64_t run;
        bool comparePassed;
    };
    const std::vector<Case> cases = {
        {"nothing recorded", {}, Action::None, 0, false},
        {"one cut update",
         {run(1, kPass, kToReset, "a"), run(2, kCut, kToWrite, "b")},
         Action::WriteBackup,
         2,
         false},
        // The repeated update kept the broken (or blank) flash of the first.
        {"update repeated",
         {run(1, kFail, kToWrite, "a"), run(2, kFail, kToWrite, "blank")},
         Action::WriteBackup,
         1,
         false},
        {"later runs out of order",
         {run(3, kFail, kToWrite, "c"), run(2, kFail, kToWrite, "b")},
         Action::WriteBackup,
         2,
         false},
        {"killed after its compare", {run(1, kCut, kToReset, "a")}, Action::ResetOnly, 1, true},
        {"its image did not boot",
         {comeBackInRomCode(run(1, kFail, kToReset, "a"))},
         Action::WriteBackup,
         1,
         false},
        {"a broken flash after a passed compare",
         {run(1, kFail, kToReset, "a"), run(2, kFail, kToWrite, "b")},
         Action::WriteBackup,
         2,
         false},
        {"stopped before the erase", {run(1, kFail, "open=1;backup")}, Action::ResetOnly, 1, false},
        {"erased without a backup",
         {run(1, kFail, kToWrite), run(2, kFail, kToWrite, "b")},
         Action::None,
         0,
         false},
        {"reads and verifies write nothing",
         {run(1, kFail, kToWrite, "a"), run(2, kPass, "open=1;read=1;reset", "", "read")},
         Action::WriteBackup,
         1,
         false},
        {"all passed", {run(1, kPass, kToReset, "a")}, Action::None, 0, false},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        const Rollback rollback = chooseRollback(each.runs);
        EXPECT_EQ(rollback.action, each.action);
        if (each.action != Action::None) {
            EXPECT_EQ(rollback.run.id, each.run);
        }
        EXPECT_EQ(rollback.comparePassed, each.comparePassed);
    }
}

}  // namespace
}  // namespace velmora::testing
