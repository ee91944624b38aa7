// The core's launch sequence against a scratch folder: the steps, their order
// and their effects on the log file and the boot-args snapshot.
#include "launch/LaunchSequence.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/Console.h"
#include "driver_install/BootArgsSnapshot.h"
#include "tests/support/ScratchFolder.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// The console lines and the snapshot command in one list, so the order shows.
class RecordingShell final : public driver::ShellRunner {
public:
    explicit RecordingShell(Console& console) : console_(console) {}
    void run(const std::string& command) override { console_.line("shell: " + command); }

private:
    Console& console_;
};

class LaunchSequenceTest : public ::testing::Test {
protected:
    LaunchSequenceTest() {
        std::ofstream(scratch_.path("config.ini"))
            << "[Parvane Config]\nAppTitle = Bench\nScalarMode = 1\n"
               "[Support Vid Pid]\nVID_00 = 0x2FE3\nSSPID_00 = 0x0611\n"
               "HSPID_00 = 0x0610\n";
        fs::create_directory(privateFolder());
        chmod(privateFolder().c_str(), 0700);
    }

    fs::path privateFolder() const { return scratch_.path() / "private"; }

    LaunchInputs inputs() {
        LaunchInputs launch(console_, shell_, scratch_.path("config.ini"));
        launch.programFolder = "/opt/velmora/bin";
        launch.resourcePath = "/opt/velmora/share/velmora";
        launch.privateFolder = privateFolder();
        launch.logPath = scratch_.path("Velmora.log");
        launch.systemRoot = scratch_.path() / "root";
        return launch;
    }

    std::string logText() const {
        std::ifstream log(scratch_.path("Velmora.log"));
        return {std::istreambuf_iterator<char>(log), {}};
    }

    testing::ScratchFolder scratch_{"velmora-launch"};
    RecordingConsole console_;
    RecordingShell shell_{console_};
};

TEST_F(LaunchSequenceTest, RunsItsStepsInOrder) {
    const LaunchResult launched = runLaunchSequence(inputs());
    const std::vector<std::string> lines = console_.lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "Current System Version: " + launched.systemVersion);
    EXPECT_EQ(lines[1], "AP Path :/opt/velmora/bin ");
    EXPECT_EQ(lines[2], "Resource Path :/opt/velmora/share/velmora ");
    EXPECT_EQ(lines[3],
              "shell: " + driver::bootArgsSnapshotCommand(privateFolder() / driver::kSnapshotFileName));
    EXPECT_EQ(lines[4], "vid:0x2fe3   ;    sspid:0x611 ;    hspid:0x610 \n");
    EXPECT_EQ(lines[5], "App title: Bench");

    // The log line is the version, and it was written before the snapshot.
    EXPECT_EQ(logText(), launched.systemVersion + "\n");
    EXPECT_EQ(launched.config.appTitle, "Bench");
    EXPECT_TRUE(launched.config.scalarLayout());
    EXPECT_TRUE(launched.config.table.IsSupportedHub(0x2FE3, 0x0610));
    EXPECT_EQ(launched.privateFolder, privateFolder());
}

// The snapshot shows the boot settings as they were at the first launch since
// the machine started: a later launch leaves it alone, and adds one log line.
TEST_F(LaunchSequenceTest, TakesTheSnapshotOnlyWhenItIsMissing) {
    runLaunchSequence(inputs());
    ASSERT_TRUE(fs::exists(privateFolder() / driver::kSnapshotFileName));
    const std::size_t first = console_.lines().size();
    const LaunchResult again = runLaunchSequence(inputs());
    const std::vector<std::string> lines = console_.lines();
    for (std::size_t index = first; index < lines.size(); ++index)
        EXPECT_FALSE(lines[index].starts_with("shell: ")) << lines[index];
    EXPECT_EQ(logText(), again.systemVersion + "\n" + again.systemVersion + "\n");
}

TEST_F(LaunchSequenceTest, ASnapshotThatCannotBeWrittenIsSkipped) {
    LaunchInputs launch = inputs();
    launch.privateFolder = scratch_.path() / "not-a-folder";
    const LaunchResult launched = runLaunchSequence(launch);
    EXPECT_EQ(console_.lines().size(), 7u);
    EXPECT_EQ(launched.config.appTitle, "Bench");
}

TEST_F(LaunchSequenceTest, TheSignatureFlagFollowsTheKernel) {
    EXPECT_FALSE(runLaunchSequence(inputs()).needSignDriver);
    fs::create_directories(scratch_.path() / "root/sys/module/module/parameters");
    std::ofstream(scratch_.path() / "root/sys/module/module/parameters/sig_enforce") << "Y\n";
    EXPECT_TRUE(runLaunchSequence(inputs()).needSignDriver);
}

}  // namespace
}  // namespace velmora
