#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/PrivateFolder.h"
#include "driver_install/BootArgsSnapshot.h"
#include "driver_install/SignatureEnforcement.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::driver {
namespace {

namespace fs = std::filesystem;

class RecordingShell final : public ShellRunner {
public:
    void run(const std::string& command) override { commands.push_back(command); }
    std::vector<std::string> commands;
};

class StateFolder : public ::testing::Test {
protected:
    velmora::testing::ScratchFolder scratch_{"velmora-state-test"};
    fs::path folder_ = scratch_.path();

    void write(const fs::path& relative, const std::string& text) {
        fs::create_directories((folder_ / relative).parent_path());
        std::ofstream(folder_ / relative) << text;
    }
};

using BootArgsSnapshotTest = StateFolder;

TEST_F(BootArgsSnapshotTest, TakenOnceIntoAFileOfOurOwn) {
    const fs::path snapshot = folder_ / "a b(1)" / kSnapshotFileName;
    fs::create_directory(snapshot.parent_path());
    RecordingShell shell;
    takeBootArgsSnapshot(snapshot, shell);
    ASSERT_EQ(shell.commands.size(), 1u);
    EXPECT_TRUE(shell.commands[0].ends_with(">> " + folder_.string() +
                                            "/a\\ b\\(1\\)/nvram_setting.dat 2>/dev/null"));
    struct stat status {};
    ASSERT_EQ(lstat(snapshot.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    takeBootArgsSnapshot(snapshot, shell);
    EXPECT_EQ(shell.commands.size(), 1u);
}

TEST_F(BootArgsSnapshotTest, RecordsTheKernelCommandLine) {
    const fs::path snapshot = folder_ / kSnapshotFileName;
    SystemShellRunner shell;
    takeBootArgsSnapshot(snapshot, shell);
    std::ifstream commandLineFile("/proc/cmdline");
    std::string commandLine;
    std::getline(commandLineFile, commandLine);
    EXPECT_TRUE(readBootArgsSnapshot(snapshot).starts_with("boot-args\t" + commandLine + "\n"));
}

TEST_F(BootArgsSnapshotTest, NeverWritesThroughAPlantedLink) {
    const fs::path victim = folder_ / "victim";
    write("victim", "untouched");
    const fs::path snapshot = folder_ / kSnapshotFileName;
    fs::create_symlink(victim, snapshot);
    RecordingShell shell;
    takeBootArgsSnapshot(snapshot, shell);
    EXPECT_TRUE(shell.commands.empty());
    EXPECT_EQ(readBootArgsSnapshot(victim), "untouched");
}

TEST_F(BootArgsSnapshotTest, MissingSnapshotReadsEmpty) {
    EXPECT_EQ(readBootArgsSnapshot(folder_ / "none"), "");
}

using PrivateFolderTest = StateFolder;

TEST_F(PrivateFolderTest, MadeClosedToOthers) {
    const auto made = privateFolderIn(folder_, "velmora");
    ASSERT_TRUE(made.has_value());
    struct stat status {};
    ASSERT_EQ(lstat(made->c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(privateFolderIn(folder_, "velmora"), made);
}

TEST_F(PrivateFolderTest, RefusesPlantedLinksAndOpenFolders) {
    fs::create_directory(folder_ / "elsewhere");
    chmod((folder_ / "elsewhere").c_str(), 0700);
    fs::create_directory_symlink(folder_ / "elsewhere", folder_ / "linked");
    EXPECT_FALSE(privateFolderIn(folder_, "linked").has_value());

    fs::create_directory(folder_ / "open");
    chmod((folder_ / "open").c_str(), 0777);
    EXPECT_FALSE(privateFolderIn(folder_, "open").has_value());

    write("plain-file", "");
    EXPECT_FALSE(privateFolderIn(folder_, "plain-file").has_value());
}

using SignatureEnforcementTest = StateFolder;

TEST_F(SignatureEnforcementTest, FollowsSigEnforceAndLockdown) {
    EXPECT_FALSE(moduleSignaturesEnforced(folder_));

    write("sys/module/module/parameters/sig_enforce", "N\n");
    write("sys/kernel/security/lockdown", "[none] integrity confidentiality\n");
    EXPECT_FALSE(moduleSignaturesEnforced(folder_));

    write("sys/kernel/security/lockdown", "none [integrity] confidentiality\n");
    EXPECT_TRUE(moduleSignaturesEnforced(folder_));
    write("sys/kernel/security/lockdown", "none integrity [confidentiality]\n");
    EXPECT_TRUE(moduleSignaturesEnforced(folder_));

    write("sys/kernel/security/lockdown", "[none] integrity confidentiality\n");
    write("sys/module/module/parameters/sig_enforce", "Y\n");
    EXPECT_TRUE(moduleSignaturesEnforced(folder_));
}

}  // namespace
}  // namespace velmora::driver
