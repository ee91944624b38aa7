// The atomic writer at output paths another user may have prepared. The program
// is often run as root, so these run as root in CI: each shows that the attack
// does nothing (no setuid file, no destroyed device, no write through a link, no
// litter after a kill).
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/AtomicFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

constexpr mode_t kTestUmask = 022;
constexpr uid_t kNobody = 65534;

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override { previousUmask_ = ::umask(kTestUmask); }
    void TearDown() override { ::umask(previousUmask_); }

    FileWriteResult write(const std::string& path) {
        return writeFileAtomically(path, bytes_.data(), bytes_.size());
    }
    std::string contents(const std::string& path) const {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    std::string prepared(const std::string& name, mode_t mode, uid_t owner) const {
        const std::string path = scratch_.write(name, {'o', 'l', 'd'});
        if (::chown(path.c_str(), owner, owner) != 0 || ::chmod(path.c_str(), mode) != 0) return {};
        return path;
    }
    static struct stat statusOf(const std::string& path) {
        struct stat status {};
        ::lstat(path.c_str(), &status);
        return status;
    }

    ScratchFolder scratch_{"velmora-atomic"};
    std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>(4096, 0x5A);
    mode_t previousUmask_ = 0;
};

TEST_F(AtomicFileTest, ANewFileGetsTheUmasksPermissions) {
    const std::string path = scratch_.path("new.bin");
    ASSERT_TRUE(write(path).written);
    EXPECT_EQ(statusOf(path).st_mode & 07777, 0644u);
    EXPECT_EQ(contents(path), std::string(bytes_.begin(), bytes_.end()));
}

TEST_F(AtomicFileTest, OwnFileKeepsItsPermissionsButNeverTheSetuidBits) {
    const std::string path = prepared("own.bin", 06775, ::geteuid());
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(write(path).written);
    EXPECT_EQ(statusOf(path).st_mode & 07777, 0775u);
}

// A private file (a flash backup) is 0600 whatever the umask allows or the file
// it replaces had, and asking for more than permission bits gives none of them.
TEST_F(AtomicFileTest, PermissionsAskedForAreTheOnesGiven) {
    const std::string fresh = scratch_.path("fresh.bin");
    ASSERT_TRUE(writeFileAtomically(fresh, bytes_.data(), bytes_.size(), 0600).written);
    EXPECT_EQ(statusOf(fresh).st_mode & 07777, 0600u);
    const std::string shared = prepared("shared.bin", 0666, ::geteuid());
    ASSERT_FALSE(shared.empty());
    ASSERT_TRUE(writeFileAtomically(shared, bytes_.data(), bytes_.size(), 04600).written);
    EXPECT_EQ(statusOf(shared).st_mode & 07777, 0600u);
    EXPECT_EQ(contents(shared), std::string(bytes_.begin(), bytes_.end()));
}

// Another user prepares a setuid file at the output path: root's write must not
// turn it into a root-owned setuid program with content that user chose.
TEST_F(AtomicFileTest, AnotherUsersSetuidFileGivesNoPermissionsAway) {
    if (!runningAsRoot()) GTEST_SKIP() << "needs root to prepare another user's file";
    const std::string path = prepared("trap.bin", 04755, kNobody);
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(write(path).written);
    const struct stat status = statusOf(path);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    EXPECT_EQ(status.st_uid, ::geteuid());
    EXPECT_EQ(contents(path), std::string(bytes_.begin(), bytes_.end()));
}

// What stands at the path: made by the test, then checked to be there unchanged.
struct PlantedCase {
    const char* name;
    std::function<bool(const std::string& path, const std::string& aside)> plant;
    const char* reason;
    bool needsRoot = false;
};

class PlantedOutputTest : public AtomicFileTest, public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedOutputTest, IsRefusedAndLeftAsItWas) {
    if (GetParam().needsRoot && !runningAsRoot()) GTEST_SKIP() << "needs root to make a device node";
    const std::string path = scratch_.path("out.bin");
    const std::string aside = scratch_.write("aside", {'k', 'e', 'e', 'p'});
    ASSERT_TRUE(GetParam().plant(path, aside));
    const struct stat before = statusOf(path);

    const ChildEnd end = runInChild([&] {
        const FileWriteResult result = write(path);
        return !result.written && result.error.find(GetParam().reason) != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(end.exitStatus, 0) << "signal " << end.signal;
    const struct stat after = statusOf(path);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(contents(aside), "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch_.path()),
                            std::filesystem::directory_iterator()),
              2);
}

INSTANTIATE_TEST_SUITE_P(Outputs, PlantedOutputTest,
                         ::testing::Values(PlantedCase{"Fifo",
                                                       [](const std::string& path, const std::string&) {
                                                           return ::mkfifo(path.c_str(), 0666) == 0;
                                                       },
                                                       "is a FIFO, not a regular file"},
                                           PlantedCase{"NullDevice",
                                                       [](const std::string& path, const std::string&) {
                                                           return ::mknod(path.c_str(), S_IFCHR | 0666,
                                                                          makedev(1, 3)) == 0;
                                                       },
                                                       "is a character device, not a regular file", true},
                                           PlantedCase{"Symlink",
                                                       [](const std::string& path, const std::string& aside) {
                                                           return ::symlink(aside.c_str(), path.c_str()) == 0;
                                                       },
                                                       "is a symbolic link to '"},
                                           PlantedCase{"Folder",
                                                       [](const std::string& path, const std::string&) {
                                                           return ::mkdir(path.c_str(), 0755) == 0;
                                                       },
                                                       "Is a directory"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AtomicFileTest, ASymlinkIsRefusedNamingItsTarget) {
    const std::string path = scratch_.path("link.bin");
    ASSERT_EQ(::symlink("/etc/passwd", path.c_str()), 0);
    const FileWriteResult result = write(path);
    EXPECT_FALSE(result.written);
    EXPECT_EQ(result.error, "is a symbolic link to '/etc/passwd'; not replaced");
}

// A write killed halfway (here by the file size limit, as by any signal) leaves the
// target as it was and nothing beside it.
TEST_F(AtomicFileTest, AKilledWriteLeavesNoTemporaryFile) {
    const std::string path = prepared("edited.bin", 0644, ::geteuid());
    const ChildEnd end = runInChild([&] {
        const rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        write(path);
        return 0;
    });
    EXPECT_EQ(end.signal, SIGXFSZ);
    EXPECT_EQ(contents(path), "old");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"edited.bin"});
}

}  // namespace
}  // namespace velmora::testing
