// The rules that keep another local user from planting, swapping or reading the
// station's file when root runs the program.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "history/StationFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using history::StationFile;

bool opensAsHistory(const std::string& path, FolderCreation creation, std::string& error) {
    return StationFile::open(path, creation, error) != nullptr;
}

constexpr uid_t kOtherUser = 65534;  // nobody

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

struct UnsafeCase {
    const char* name;
    bool needsRoot;                                   // hands a file to another user
    std::function<std::string(const fs::path&)> set;  // prepares the folder, returns the history path
    const char* reason;
};

class UnsafeHistoryTest : public ::testing::TestWithParam<UnsafeCase> {
protected:
    ScratchFolder scratch_{"velmora-history"};
};

TEST_P(UnsafeHistoryTest, IsRefusedAndLeftAlone) {
    if (GetParam().needsRoot && !runningAsRoot()) GTEST_SKIP() << "needs root to give files to another user";
    const std::string path = GetParam().set(scratch_.path());
    std::string error;
    EXPECT_FALSE(opensAsHistory(path, FolderCreation::MustExist, error));
    EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
    // Nor is anything read from there (a missing file simply holds nothing).
    bool missing = false;
    EXPECT_FALSE(StationFile::openExisting(path, missing, error));
    if (fs::exists(scratch_.path() / "target")) {
        EXPECT_EQ(fs::file_size(scratch_.path() / "target"), 5u);  // what a link pointed at is untouched
    }
}

std::string inFolder(const fs::path& base, const char* name, mode_t mode) {
    const fs::path folder = base / name;
    fs::create_directory(folder);
    ::chmod(folder.c_str(), mode);
    return (folder / "history.sqlite").string();
}

INSTANTIATE_TEST_SUITE_P(
    Plants, UnsafeHistoryTest,
    ::testing::Values(UnsafeCase{"FolderWritableByAll", false,
                                 [](const fs::path& base) { return inFolder(base, "shared", 0777); },
                                 "is writable by other users"},
                      UnsafeCase{"StickyFolderLikeTmp", false,
                                 [](const fs::path& base) { return inFolder(base, "tmp", 01777); },
                                 "is writable by other users"},
                      UnsafeCase{"FolderWritableByGroup", false,
                                 [](const fs::path& base) { return inFolder(base, "group", 0770); },
                                 "is writable by other users"},
                      UnsafeCase{"FolderAboveWritableByAll", false,
                                 [](const fs::path& base) {
                                     inFolder(base, "open", 0777);
                                     return inFolder(base / "open", "mine", 0700);
                                 },
                                 "is writable by other users"},
                      UnsafeCase{"LinkAtThePath", false,
                                 [](const fs::path& base) {
                                     std::ofstream(base / "target") << "keep!";
                                     const std::string path = inFolder(base, "mine", 0700);
                                     fs::create_symlink(base / "target", path);
                                     return path;
                                 },
                                 "is a symbolic link"},
                      UnsafeCase{"FifoAtThePath", false,
                                 [](const fs::path& base) {
                                     const std::string path = inFolder(base, "mine", 0700);
                                     ::mkfifo(path.c_str(), 0600);
                                     return path;
                                 },
                                 "is not a regular file"},
                      UnsafeCase{"FileOfAnotherUser", true,
                                 [](const fs::path& base) {
                                     const std::string path = inFolder(base, "mine", 0700);
                                     std::ofstream(path) << "";
                                     EXPECT_EQ(::chown(path.c_str(), kOtherUser, kOtherUser), 0);
                                     return path;
                                 },
                                 "belongs to another user"},
                      UnsafeCase{"FolderOfAnotherUser", true,
                                 [](const fs::path& base) {
                                     const std::string path = inFolder(base, "theirs", 0755);
                                     EXPECT_EQ(::chown((base / "theirs").c_str(), kOtherUser, kOtherUser), 0);
                                     return path;
                                 },
                                 "belongs to another user"}),
    [](const auto& info) { return std::string(info.param.name); });

// A FIFO or a device node named as the history is refused without being opened
// at all: opening some devices acts on them. inotify sees every open of the node.
TEST(HistoryFileTest, SpecialFileAtThePathIsNeverOpened) {
    ScratchFolder scratch("velmora-history");
    const std::string fifo = scratch.path("fifo.sqlite");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> nodes{fifo};
    const std::string device = scratch.path("null.sqlite");
    if (runningAsRoot() && ::mknod(device.c_str(), S_IFCHR | 0600, ::makedev(1, 3)) == 0)
        nodes.push_back(device);
    for (const std::string& node : nodes) {
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, node.c_str(), IN_OPEN), 0);
        std::string error;
        EXPECT_FALSE(opensAsHistory(node, FolderCreation::MustExist, error));
        EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
        char events[4096];
        EXPECT_LT(::read(watch, events, sizeof events), 0) << node << " was opened";
        ::close(watch);
    }
}

TEST(HistoryFileTest, DefaultPlaceIsMadeForItsOwnerAlone) {
    ScratchFolder scratch("velmora-history");
    const fs::path path = scratch.path() / "state" / "velmora" / "history.sqlite";
    const mode_t saved = ::umask(0);  // even a umask that opens everything
    std::string error;
    const bool prepared = opensAsHistory(path.string(), FolderCreation::Create, error);
    ::umask(saved);
    ASSERT_TRUE(prepared) << error;
    EXPECT_EQ(modeOf(path.parent_path()), 0700u);
    EXPECT_EQ(modeOf(path.parent_path().parent_path()), 0700u);
    EXPECT_EQ(modeOf(path), 0600u);
    // A second run finds it as it left it.
    EXPECT_TRUE(opensAsHistory(path.string(), FolderCreation::Create, error)) << error;
}

TEST(HistoryFileTest, NothingIsMadeInAnotherUsersFolder) {
    if (!runningAsRoot()) GTEST_SKIP() << "needs root to give a folder to another user";
    ScratchFolder scratch("velmora-history");
    const fs::path theirs = scratch.path() / "home-of-someone";
    fs::create_directory(theirs);
    ASSERT_EQ(::chown(theirs.c_str(), kOtherUser, kOtherUser), 0);
    std::string error;
    EXPECT_FALSE(
        opensAsHistory((theirs / "state/velmora/history.sqlite").string(), FolderCreation::Create, error));
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(theirs / "state"));
}

TEST(HistoryFileTest, NamedFileNeedsAnExistingFolder) {
    ScratchFolder scratch("velmora-history");
    std::string error;
    EXPECT_FALSE(opensAsHistory(scratch.path("missing/history.sqlite"), FolderCreation::MustExist, error));
    EXPECT_FALSE(fs::exists(scratch.path("missing")));
    bool missing = false;
    EXPECT_FALSE(StationFile::openExisting(scratch.path("history.sqlite"), missing, error));
    EXPECT_TRUE(missing);
    EXPECT_FALSE(fs::exists(scratch.path("history.sqlite")));
}

}  // namespace
}  // namespace velmora::testing
