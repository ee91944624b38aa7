// The backups folder on its own: contents named by their SHA-256 and checked
// against that name when read, the index entries, the pruning rules (by the
// order the backups were kept and by unit), and the folder's safety rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/RunId.h"
#include "backups/BackupStore.h"
#include "history/HistoryRecord.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

using backups::BackupEntry;
using backups::BackupStore;

BackupEntry entryAt(const std::string& time, const std::string& port, const std::string& result) {
    BackupEntry entry;
    entry.runId = RunId::make().text();
    entry.time = time;
    entry.port = port;
    entry.result = result;
    return entry;
}

std::vector<std::size_t> pruned(const std::vector<std::string>& runs, std::size_t kept) {
    // Each run: its port and its result, one letter each ("1s", "2f", "1u").
    std::vector<BackupEntry> entries;
    for (const std::string& run : runs) {
        const std::string result = run[1] == 's'   ? history::kResultSuccess
                                   : run[1] == 'f' ? history::kResultFailure
                                                   : history::kResultUnfinished;
        entries.push_back(entryAt("t", run.substr(0, 1), result));
    }
    return backups::entriesToPrune(entries, kept);
}

TEST(BackupPruningTest, KeepsTheLatestRunsAndEveryHubThatHasNotPassedSince) {
    // Within the limit nothing goes.
    EXPECT_TRUE(pruned({"1s", "1f", "2u"}, 3).empty());
    // Older passed runs go.
    EXPECT_EQ(pruned({"1s", "2s", "1s", "2s"}, 2), (std::vector<std::size_t>{0, 1}));
    // A failed run on port 1 stays until a later run on port 1 passes, however
    // many runs on other ports came after.
    EXPECT_EQ(pruned({"1f", "2s", "2s", "2s"}, 1), (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(pruned({"1u", "2s", "1s", "2s"}, 1), (std::vector<std::size_t>{0, 1, 2}));
    // A later failed run on the same port does not release it.
    EXPECT_EQ(pruned({"1f", "1f", "2s"}, 1), (std::vector<std::size_t>{}));
}

class BackupStoreTest : public ::testing::Test {
protected:
    ScratchFolder scratch_{"velmora-backups"};
    std::string folder_ = scratch_.path("backups");
    std::vector<std::uint8_t> flash_ = std::vector<std::uint8_t>(32768, 0x5A);
};

TEST_F(BackupStoreTest, StoresListsAndPrunesByItsIndex) {
    BackupStore store(folder_, FolderCreation::Create, RunOrigin::Real, 1);
    std::string error;
    BackupEntry first = entryAt("2026-01-01T00:00:00.000Z", "1-1", "");
    ASSERT_TRUE(store.store(flash_, first, error)) << error;
    ASSERT_TRUE(store.finish(*RunId::parse(first.runId), true, error)) << error;
    std::vector<std::uint8_t> other = flash_;
    other[0] = 0;
    BackupEntry second = entryAt("2026-01-02T00:00:00.000Z", "1-1", "");
    ASSERT_TRUE(store.store(other, second, error)) << error;
    ASSERT_TRUE(store.finish(*RunId::parse(second.runId), true, error)) << error;

    // Only the latest run is kept, and the first one's contents went with it.
    const auto entries = store.list(error);
    ASSERT_TRUE(entries) << error;
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ(entries->front().runId, second.runId);
    EXPECT_FALSE(std::filesystem::exists(folder_ + "/" + first.sha256));
    EXPECT_TRUE(store.load(second.sha256, error)) << error;
}

TEST_F(BackupStoreTest, ContentsThatNoLongerMatchTheirNameAreRefused) {
    BackupStore store(folder_, FolderCreation::Create, RunOrigin::Real);
    std::string error;
    BackupEntry entry = entryAt("2026-01-01T00:00:00.000Z", "1-1", "");
    ASSERT_TRUE(store.store(flash_, entry, error)) << error;
    std::ofstream(folder_ + "/" + entry.sha256, std::ios::binary | std::ios::in | std::ios::out) << 'X';
    EXPECT_FALSE(store.load(entry.sha256, error));
    EXPECT_NE(error.find("no longer matches"), std::string::npos) << error;
    EXPECT_FALSE(store.load("../etc/passwd", error));
}

TEST_F(BackupStoreTest, LinksAndUnsafeFoldersAreNeverUsed) {
    std::string error;
    BackupEntry entry = entryAt("2026-01-01T00:00:00.000Z", "1-1", "");
    // A folder others may write.
    std::filesystem::create_directory(folder_);
    ::chmod(folder_.c_str(), 0777);
    EXPECT_FALSE(BackupStore(folder_, FolderCreation::Create, RunOrigin::Real).store(flash_, entry, error));
    EXPECT_NE(error.find("writable by other users"), std::string::npos) << error;
    // A link standing where a backup's contents would be read.
    ::chmod(folder_.c_str(), 0700);
    BackupStore store(folder_, FolderCreation::Create, RunOrigin::Real);
    ASSERT_TRUE(store.store(flash_, entry, error)) << error;
    const std::string contents = folder_ + "/" + entry.sha256;
    std::filesystem::rename(contents, scratch_.path("elsewhere"));
    std::filesystem::create_symlink(scratch_.path("elsewhere"), contents);
    EXPECT_FALSE(store.load(entry.sha256, error));
}

// "Later" is the order the backups were kept in: a pass kept before the clock
// was set back is no later than a failure kept after it.
TEST_F(BackupStoreTest, AClockSetBackNeverMakesAnEarlierPassLater) {
    BackupStore store(folder_, FolderCreation::Create, RunOrigin::Real, 1);
    std::string error;
    BackupEntry passed = entryAt("2030-01-01T00:00:00.000Z", "1-1", history::kResultSuccess);
    ASSERT_TRUE(store.store(flash_, passed, error)) << error;
    std::vector<std::uint8_t> broken = flash_;
    broken[0] = 0;
    BackupEntry failed = entryAt("2026-01-01T00:00:00.000Z", "1-1", history::kResultFailure);
    ASSERT_TRUE(store.store(broken, failed, error)) << error;
    store.prune(error);
    const auto entries = store.list(error);
    ASSERT_TRUE(entries) << error;
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ(entries->front().runId, failed.runId);
    EXPECT_TRUE(store.load(failed.sha256, error)) << error;
}

// A failed unit set aside keeps its backup while other units pass on its port,
// until that unit (its serial, else its port) passes.
TEST_F(BackupStoreTest, AFailedUnitKeepsItsBackupUntilThatUnitPasses) {
    BackupStore store(folder_, FolderCreation::Create, RunOrigin::Real, 1);
    std::string error;
    int second = 0;
    const auto keep = [&](const std::string& port, const std::string& serial, const char* result) {
        BackupEntry entry = entryAt("2026-01-01T00:00:0" + std::to_string(second++) + ".000Z", port, result);
        entry.serial = serial;
        std::vector<std::uint8_t> flash = flash_;
        flash[1] = static_cast<std::uint8_t>(serial.empty() ? 0 : serial[0]);
        EXPECT_TRUE(store.store(flash, entry, error)) << error;
        store.prune(error);
        return entry.runId;
    };
    const auto kept = [&](const std::string& runId) {
        const auto entries = store.list(error);
        return entries && std::any_of(entries->begin(), entries->end(),
                                      [&](const BackupEntry& entry) { return entry.runId == runId; });
    };
    const std::string setAside = keep("1-1", "A", history::kResultFailure);
    keep("1-1", "B", history::kResultSuccess);
    keep("1-2", "C", history::kResultSuccess);
    keep("1-1", "D", history::kResultSuccess);
    EXPECT_TRUE(kept(setAside));
    keep("1-3", "A", history::kResultSuccess);
    EXPECT_FALSE(kept(setAside));
}

}  // namespace
}  // namespace velmora::testing
