// The window records (--record) and replays (--replay): an easy update recorded
// over the simulated hub is served from its recording to a new window with no bus
// at all, and ends with the same pane; a run that asks the recording for another
// image is stopped at the first request that differs.
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <fstream>

#include "WindowFixture.h"
#include "window/HubDetectionService.h"

namespace velmora::testing {
namespace {

class RecordReplayTest : public WindowFixture {
protected:
    // Launches a window, runs the easy update on image and answers the pane.
    QString runEasyUpdate(const WindowSetup& setup, const std::string& image) {
        runUpdate(setup, image);
        return paneText();
    }
    void runUpdate(const WindowSetup& setup, const std::string& image) {
        launch(setup);
        // The detection that the launch starts reads the hub first; the update
        // follows it, in the replay as in the recording.
        QTRY_VERIFY_WITH_TIMEOUT(!hubInfoText().isEmpty(), kPatienceMs);
        EXPECT_TRUE(waitForWorkflowEnd());
        dialogs_.openAnswers.push_back(QString::fromStdString(image));
        window().easyUpdateBox().btnSelect_EasyUpdate->click();
        window().easyUpdateBox().btnUpdate_EasyUpdate->click();
        EXPECT_TRUE(waitForWorkflowEnd());
    }

    WindowSetup recordingTo(const std::string& path) const {
        WindowSetup setup = WindowSetup().withScenario("rom-code");
        setup.recording.recordPath = path;
        return setup;
    }
    WindowSetup replaying(const std::string& path) const {
        WindowSetup setup = WindowSetup().withScenario("rom-code");
        setup.recording.replayPath = path;
        return setup;
    }
};

// The window's hub detection runs on its own thread, woken by the hub leaving and
// returning during the update: the replay delivers those events where they came
// among the update's requests, so its detections fall where they fell.
TEST_F(RecordReplayTest, AnEasyUpdateRecordedByTheWindowReplaysWithTheSamePane) {
    const std::string recording = (folder() / "easy-update.jsonl").string();
    const QString recorded = runEasyUpdate(recordingTo(recording), sampleImagePath());
    ASSERT_TRUE(recorded.endsWith("Update FW Success\n")) << recorded.toStdString();
    // The detection the update's end asks for (once the workflow's thread has
    // ended it, a moment after the pane's last line) shows the hub's new firmware.
    const QString recordedInfo = "Detect Zelo Hub : Success\nfwVer:0102";
    QTRY_COMPARE_WITH_TIMEOUT(hubInfoText(), recordedInfo, kPatienceMs);
    closeWindow();

    const QString replayed = runEasyUpdate(replaying(recording), sampleImagePath());
    EXPECT_TRUE(session().environment().replays());
    EXPECT_EQ(session().simulation(), nullptr);  // no bus: the hub is the recording's
    EXPECT_EQ(replayed, recorded);
    EXPECT_EQ(paneColour(), QColor(Qt::blue));
    QTRY_COMPARE_WITH_TIMEOUT(hubInfoText(), recordedInfo, kPatienceMs);
    EXPECT_EQ(session().environment().replayDivergence(), std::nullopt);
}

TEST_F(RecordReplayTest, AReplayAskedForAnotherImageStopsAtTheFirstDifferentRequest) {
    const std::string recording = (folder() / "easy-update.jsonl").string();
    runEasyUpdate(recordingTo(recording), sampleImagePath());
    closeWindow();

    // The same image with one byte of its code changed: the flash write differs.
    std::ifstream file(sampleImagePath(), std::ios::binary);
    std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GT(image.size(), 0x1000U);
    image[0x1000] ^= 0xFF;
    const QString replayed = runEasyUpdate(replaying(recording), writeFile("changed.bin", image));
    EXPECT_FALSE(replayed.endsWith("Update FW Success\n")) << replayed.toStdString();
    const std::optional<std::string> line = session().environment().replayDivergence();
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->rfind("Replay diverged at exchange ", 0), 0U) << *line;
}

}  // namespace
}  // namespace velmora::testing
