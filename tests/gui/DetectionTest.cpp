// Detection in the window (at launch, on arrival and removal, deferred during a
// run), the launch's log line and snapshot, and the driver buttons.
#include <QPlainTextEdit>
#include <QPushButton>
#include <fstream>
#include <iterator>
#include <thread>

#include "WindowFixture.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "window/HubDetectionService.h"
#include "window/WindowSession.h"

namespace velmora::testing {
namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class DetectionTest : public WindowFixture {
protected:
    // Waits until detection has nothing left to do, and returns how often it ran.
    int settledDetections() {
        EXPECT_TRUE(QTest::qWaitFor([&] { return window().detection().idle(); }, kPatienceMs));
        return window().detection().detectionsRun();
    }
    bool waitForDetections(int count) {
        return QTest::qWaitFor([&] { return window().detection().detectionsRun() >= count; }, kPatienceMs);
    }
    int consoleCount(const std::string& line) {
        const std::vector<std::string> lines = consoleLines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    // Waits, without letting the GUI thread run, until the console holds the line count times.
    bool waitForConsoleLine(const std::string& line, int count) {
        for (int tries = 0; tries < kPatienceMs; ++tries) {
            if (consoleCount(line) >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};

TEST_F(DetectionTest, LaunchArmsBothHandlersAndShowsTheVersionInBlue) {
    launch();
    // Two detections are asked for; those that meet the scalar run of the launch are
    // deferred to its end and run once.
    EXPECT_GE(settledDetections(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !hubInfoText().isEmpty(); }, kPatienceMs));
    EXPECT_EQ(hubInfoText(), "Detect Zelo Hub : Success\nfwVer:0102");
    EXPECT_EQ(hubInfoColour(), QColor(Qt::blue));
    EXPECT_TRUE(consoleHas("Enter Device Added\n"));
    EXPECT_TRUE(consoleHas("Enter Device Removed\n"));
}

struct DetectionRow {
    const char* scenario;
    const char* text;
    Qt::GlobalColor colour;
};

void PrintTo(const DetectionRow& row, std::ostream* out) {
    *out << row.scenario;
}

class DetectionText : public DetectionTest, public ::testing::WithParamInterface<DetectionRow> {};

TEST_P(DetectionText, ShowsTheResultInItsColour) {
    launch(WindowSetup().withScenario(GetParam().scenario));
    settledDetections();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hubInfoText() == GetParam().text; }, kPatienceMs))
        << hubInfoText().toStdString();
    EXPECT_EQ(hubInfoColour(), QColor(GetParam().colour));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DetectionText,
    ::testing::Values(DetectionRow{"no-hub", "Detect Zelo Hub: Fail\nPlease Insert Zelo Hub Device", Qt::red},
                      DetectionRow{"busy", "Detect Zelo Hub : Success\nfwVer:ffff", Qt::blue},
                      DetectionRow{"stall-status", "Detect Zelo Hub : Success\n-need load driver",
                                   Qt::blue}));

TEST_F(DetectionTest, ArrivalAndRemovalOfAnyDeviceRunDetectionOnceEach) {
    launch(WindowSetup().withScenario("with-mouse"));
    const int base = settledDetections();
    sim::SimulatedBus& bus = window().session().simulation()->bus();
    bus.unplug(std::string(sim::kFirstHubPort));
    ASSERT_TRUE(waitForDetections(base + 1));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return hubInfoText() == "Detect Zelo Hub: Fail\nPlease Insert Zelo Hub Device"; },
        kPatienceMs));
    EXPECT_EQ(hubInfoColour(), QColor(Qt::red));
    bus.plugIn(std::string(sim::kFirstHubPort));
    ASSERT_TRUE(waitForDetections(base + 2));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return hubInfoText().startsWith("Detect Zelo Hub : Success"); }, kPatienceMs));
    // The mouse counts as much as a hub.
    bus.unplug(std::string(sim::kMousePort));
    ASSERT_TRUE(waitForDetections(base + 3));
    EXPECT_EQ(settledDetections(), base + 3);
}

TEST_F(DetectionTest, DetectionDuringARunningUpdateWaitsForItsEnd) {
    launch(WindowSetup().withScenario("with-mouse"));
    settledDetections();
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().easyUpdateBox().btnSelect_EasyUpdate->click();
    window().easyUpdateBox().btnUpdate_EasyUpdate->click();
    // The worker holds the connection and waits for the GUI thread, which does not run yet.
    DetectionScheduler& scheduler = window().detection().scheduler();
    for (int tries = 0; tries < kPatienceMs && !scheduler.workflowRunning(); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(scheduler.workflowRunning());
    const int before = window().detection().detectionsRun();
    const int removals = consoleCount("Enter Device Removed\n");
    window().session().simulation()->bus().unplug(std::string(sim::kMousePort));
    ASSERT_TRUE(waitForConsoleLine("Enter Device Removed\n", removals + 1));
    EXPECT_EQ(window().detection().detectionsRun(), before);

    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_TRUE(paneText().endsWith("Update FW Success\n")) << paneText().toStdString();
    ASSERT_TRUE(waitForDetections(before + 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return hubInfoText() == "Detect Zelo Hub : Success\nfwVer:0102"; },
                                kPatienceMs));
}

TEST_F(DetectionTest, LaunchWritesTheLogLineAndTakesTheSnapshotOnce) {
    std::filesystem::create_directories(folder());
    launch();
    const std::string log = readText(folder() / "Velmora.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    // The snapshot file is made by the program and filled by the shell command.
    EXPECT_TRUE(std::filesystem::exists(folder() / "private/nvram_setting.dat"));
    ASSERT_EQ(shell_.commands.size(), 1u);
    EXPECT_NE(shell_.commands[0].find("nvram_setting.dat"), std::string::npos);
    const std::vector<std::string> lines = consoleLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("Current System Version: ", 0) == 0;
    }));
    EXPECT_TRUE(consoleHas("Resource Path :" + resourcePath() + " "));
}

TEST_F(DetectionTest, LoadDriverRunsTheLoadScriptOffTheGuiThreadWithoutRestartPrompt) {
    launch();
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(privileged_.scripts.size(), 1u);
    EXPECT_EQ(privileged_.scripts[0], std::filesystem::absolute(resourcePath()).string() + "/load");
    EXPECT_TRUE(dialogs_.restartQuestions.empty());
    EXPECT_TRUE(quits_.empty());
    // The configuration's hubs are the script's arguments; a success needs no alert.
    EXPECT_NE(std::find(privileged_.lastArguments.begin(), privileged_.lastArguments.end(), "2FE3:0611"),
              privileged_.lastArguments.end());
    EXPECT_TRUE(dialogs_.alerts.empty());
}

TEST_F(DetectionTest, RefusedDriverLoadIsToldInAnAlert) {
    launch();
    privileged_.answer.outcome = driver::ScriptOutcome::Refused;
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(dialogs_.alerts.size(), 1u);
    EXPECT_FALSE(dialogs_.alerts[0].empty());
}

TEST_F(DetectionTest, LoadDriverUnderSecureBootAsksToRestartAndCancelQuits) {
    launch(WindowSetup().withScenario("flash-code").withSignaturesEnforced());
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(dialogs_.restartQuestions.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !quits_.empty(); }, kPatienceMs));
    EXPECT_EQ(quits_, std::vector<int>{0});
    EXPECT_TRUE(consoleHas("User abort start !!!"));
}

TEST_F(DetectionTest, RebootNowRunsTheRebootScript) {
    launch(WindowSetup().withScenario("flash-code").withSignaturesEnforced());
    dialogs_.restartAnswer = driver::RestartAnswer::RebootNow;
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(privileged_.scripts.size(), 2u);
    EXPECT_TRUE(privileged_.scripts[1].ends_with("/reboot"));
    EXPECT_TRUE(quits_.empty());
}

TEST_F(DetectionTest, UnloadDriverRunsTheScriptAndResetsTheHubIntoItsFlashCode) {
    launch(WindowSetup().withScenario("rom-code"));
    const std::string image = readText(sampleImagePath());
    hub().loadFlashImage(std::vector<std::uint8_t>(image.begin(), image.end()));
    hub().setRunState(sim::RunState::RomCode);
    window().helpBox().nsbtnUnloadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(privileged_.scripts.size(), 1u);
    EXPECT_TRUE(privileged_.scripts[0].ends_with("/unload"));
    EXPECT_EQ(hub().runState(), sim::RunState::FlashCode);
    EXPECT_FALSE(window().session().connection().isOpen());
}

}  // namespace
}  // namespace velmora::testing
