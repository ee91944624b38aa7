// Detection in the window (at launch, on arrival and removal, deferred during a
// run). The window's launch is tested in tests/launch, its driver buttons in
// tests/driver_install.
#include <QPlainTextEdit>
#include <QPushButton>
#include <thread>

#include "WindowFixture.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "window/HubDetectionService.h"
#include "window/WindowSession.h"

namespace velmora::testing {
namespace {

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
    // The hub is two devices, its halves: each leaving and arriving ran it once at most.
    // The second half may arrive a moment after the first has been detected:
    // settled means no detection came for a while.
    int afterHub = settledDetections();
    for (int before = -1; before != afterHub;) {
        before = afterHub;
        QTest::qWait(200);
        afterHub = settledDetections();
    }
    EXPECT_LE(afterHub, base + 4);
    // The mouse counts as much as a hub.
    bus.unplug(std::string(sim::kMousePort));
    ASSERT_TRUE(waitForDetections(afterHub + 1));
    EXPECT_EQ(settledDetections(), afterHub + 1);
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

}  // namespace
}  // namespace velmora::testing
