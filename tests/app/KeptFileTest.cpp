// The rules of this user's kept files (the history, the backups): the folder
// itself and the file are never links and belong to this user; a folder above
// may be a link when root or this user owns it; a refusal names the rule and
// leaves nothing made.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/SafeFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;  // nobody

struct KeptFolderCase {
    const char* name;
    bool needsRoot;  // hands a link to another user
    // Prepares base and returns the folder asked for.
    std::function<fs::path(const fs::path& base)> set;
    const char* refusal;  // empty: kept, below the link's target
};

class KeptFolderTest : public ::testing::TestWithParam<KeptFolderCase> {
protected:
    ScratchFolder scratch_{"velmora-kept"};
};

TEST_P(KeptFolderTest, FollowsTheRules) {
    if (GetParam().needsRoot && !runningAsRoot()) GTEST_SKIP() << "needs root to give a link to another user";
    const fs::path base = scratch_.path();
    fs::create_directory(base / "disk");
    const fs::path asked = GetParam().set(base);
    std::string error;
    const std::optional<fs::path> kept = keptFolder(asked, FolderCreation::Create, error);
    if (std::string(GetParam().refusal).empty()) {
        ASSERT_TRUE(kept) << error;
        EXPECT_EQ(*kept, fs::canonical(asked));  // the real path, no link in it
        struct stat info {};
        ASSERT_EQ(::lstat(kept->c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        return;
    }
    EXPECT_FALSE(kept);
    EXPECT_NE(error.find(GetParam().refusal), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(base / "disk" / "state"));  // nothing made
}

fs::path linked(const fs::path& base, const fs::path& target) {
    fs::create_directory_symlink(target, base / "link");
    return base / "link";
}

INSTANTIATE_TEST_SUITE_P(
    Folders, KeptFolderTest,
    ::testing::Values(KeptFolderCase{"LinkAboveOfThisUser", false,
                                     [](const fs::path& base) {
                                         return linked(base, base / "disk") / "state" / "velmora";
                                     },
                                     ""},
                      KeptFolderCase{"LinkAboveToALink", false,
                                     [](const fs::path& base) {
                                         fs::create_directory_symlink("disk", base / "relative");
                                         return linked(base, "relative") / "state";
                                     },
                                     ""},
                      KeptFolderCase{"LinkAboveOfAnotherUser", true,
                                     [](const fs::path& base) {
                                         const fs::path link = linked(base, base / "disk");
                                         EXPECT_EQ(::lchown(link.c_str(), kOtherUser, kOtherUser), 0);
                                         return link / "state";
                                     },
                                     "link is a symbolic link that belongs to another user"},
                      KeptFolderCase{"TheFolderItselfALink", false,
                                     [](const fs::path& base) {
                                         fs::create_directory(base / "disk" / "real");
                                         fs::create_directory_symlink(base / "disk" / "real",
                                                                      base / "disk" / "kept");
                                         return base / "disk" / "kept";
                                     },
                                     "kept is a symbolic link"},
                      KeptFolderCase{"AFolderAboveWritableByOthers", false,
                                     [](const fs::path& base) {
                                         ::chmod((base / "disk").c_str(), 0777);
                                         return linked(base, base / "disk") / "state";
                                     },
                                     "disk is writable by other users"},
                      KeptFolderCase{"AFileOnTheWay", false,
                                     [](const fs::path& base) {
                                         std::ofstream(base / "disk" / "file") << "x";
                                         return base / "disk" / "file" / "state";
                                     },
                                     "file is not a folder"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeptFolderTest, AFolderThatMustExistIsNeverMade) {
    ScratchFolder scratch("velmora-kept");
    std::string error;
    EXPECT_FALSE(keptFolder(scratch.path() / "missing" / "state", FolderCreation::MustExist, error));
    EXPECT_NE(error.find("missing No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(scratch.path() / "missing"));
}

// A kept file is read only when it is this user's own regular file, no link, no
// larger than the largest such file can be.
TEST(KeptFileTest, OnlyThisUsersOwnRegularFileIsRead) {
    ScratchFolder scratch("velmora-kept");
    std::ofstream(scratch.path() / "entry") << "run=1\n";
    fs::create_symlink(scratch.path() / "entry", scratch.path() / "link");
    ::mkfifo((scratch.path() / "fifo").c_str(), 0600);
    std::string error;
    EXPECT_EQ(readKeptFile((scratch.path() / "entry").string(), 64, error), "run=1\n") << error;
    EXPECT_FALSE(readKeptFile((scratch.path() / "entry").string(), 3, error));
    EXPECT_NE(error.find("holds more than 3 bytes"), std::string::npos) << error;
    EXPECT_FALSE(readKeptFile((scratch.path() / "link").string(), 64, error));
    EXPECT_FALSE(readKeptFile((scratch.path() / "fifo").string(), 64, error));
    EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
}

}  // namespace
}  // namespace velmora::testing
