// Pictures of both layouts for a person to look at: the full window with an image
// loaded into the flash page and a finished update in the pane, and the scalar
// station after its run, and the detail box with a page chosen and a value just
// changed (its byte red in the binary view), and two of its dialogs. Written to
// $VELMORA_SCREENSHOT_DIR (default: screenshots).
#include <QApplication>
#include <QGroupBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "EditorWindowFixture.h"
#include "WindowFixture.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "window/QtDialogs.h"
#include "window/StationTile.h"
#include "window/StationView.h"

namespace velmora::testing {
namespace {

std::filesystem::path outputFolder() {
    const char* folder = std::getenv("VELMORA_SCREENSHOT_DIR");
    return folder != nullptr && *folder != '\0' ? folder : "screenshots";
}

class Screenshots : public WindowFixture {
protected:
    void save(const char* name) {
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        // Let detection's result arrive before the picture is taken.
        EXPECT_TRUE(QTest::qWaitFor([this] { return !hubInfoText().isEmpty(); }, kPatienceMs));
        std::filesystem::create_directories(outputFolder());
        const std::string path = (outputFolder() / name).string();
        ASSERT_TRUE(window().grab().save(QString::fromStdString(path)));
        std::printf("%s\n", path.c_str());
    }
    // Shows the window, then the dialog ask opens over it, and saves the dialog.
    void saveModal(const char* name, const std::function<void()>& ask) {
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        std::filesystem::create_directories(outputFolder());
        const std::string path = (outputFolder() / name).string();
        bool saved = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (box == nullptr) return;
            saved = QTest::qWaitForWindowExposed(box) && box->grab().save(QString::fromStdString(path));
            box->close();
        });
        ask();
        ASSERT_TRUE(saved);
        std::printf("%s\n", path.c_str());
    }
};

TEST_F(Screenshots, FullLayout) {
    launch(WindowSetup().withScenario("flash-code"));
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().flashBox().btnLoad_FwFlash->click();
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().easyUpdateBox().btnSelect_EasyUpdate->click();
    window().easyUpdateBox().btnUpdate_EasyUpdate->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    save("velmora-full.png");
}

// The alert an image with IDs config.ini does not list gets, shown by the real
// dialog code over the window after the easy update refused it.
TEST_F(Screenshots, RefusedImageAlert) {
    launch(WindowSetup().withScenario("flash-code"));
    std::ifstream sample(sampleImagePath(), std::ios::binary);
    std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(sample), std::istreambuf_iterator<char>()};
    image.at(0x7F02) = 0x12;  // the image's VID becomes 12E3
    dialogs_.openAnswers.push_back(QString::fromStdString(writeFile("other.bin", image)));
    window().easyUpdateBox().btnSelect_EasyUpdate->click();
    window().easyUpdateBox().btnUpdate_EasyUpdate->click();
    ASSERT_EQ(dialogs_.alerts.size(), 1u);
    saveModal("velmora-refused-image.png", [this] {
        window::QtDialogs().alert(&window(), QString::fromStdString(dialogs_.alerts.front()));
    });
}

// The question a close gets while an update writes the hub's flash, as the real
// dialog code asks it over the window.
TEST_F(Screenshots, CloseDuringFlashQuestion) {
    launch(WindowSetup().withScenario("flash-code"));
    saveModal("velmora-close-during-flash.png",
              [this] { window::QtDialogs().askCloseDuringFlash(&window()); });
}

class DetailScreenshot : public EditorWindowFixture {};

TEST_F(DetailScreenshot, DetailBoxWithARedByte) {
    launchWithSample();
    selectPage("DSP OCP/U1/U2");
    window().detailBox().tableView_Detail->selectRow(rowOf("U1 Timeout"));
    choose(rowOf("U1 Timeout"), 3);
    std::filesystem::create_directories(outputFolder());
    const std::string path = (outputFolder() / "velmora-detail.png").string();
    ASSERT_TRUE(window().detailBox().box->grab().save(QString::fromStdString(path)));
    std::printf("%s\n", path.c_str());
}

// The station view as an operator sees it on a 1920 x 1080 screen.
class StationScreenshot : public WindowFixture {
protected:
    void launchAndFinish(const std::string& scenario, int units) {
        StationRequest request;
        request.imagePath = sampleImagePath();
        request.serialPrefix = "ZH";
        request.serialDigits = 6;
        launchStation(WindowSetup().withScenario(scenario).withHistory(), request);
        window().resize(1920, 1040);
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return station().station().units().tally().passed +
                           station().station().units().tally().failed ==
                       units;
            },
            kPatienceMs));
        // The tiles' last redraws.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (const auto& [port, tile] : station().tiles()) {
                    const QString state = tile->stateText();
                    if (!state.startsWith("PASS") && !state.startsWith("FAIL")) return false;
                }
                return true;
            },
            kPatienceMs));
    }
    void saveStation(const char* name) {
        std::filesystem::create_directories(outputFolder());
        const std::string path = (outputFolder() / name).string();
        ASSERT_TRUE(window().grab().save(QString::fromStdString(path)));
        std::printf("%s\n", path.c_str());
    }
};

// Eight hubs: the labels scanned for the next units waiting, one hub taken off
// its port, another being chosen for a label.
TEST_F(StationScreenshot, EightHubs) {
    launchAndFinish("eight-hubs", 8);
    session().simulation()->bus().unplug("1-8");
    for (const char* label : {"ZH-LBL-0009", "ZH-LBL-0010", "ZH-LBL-0009"}) station().scan(label);
    QTest::mouseClick(station().tiles().at("1-3"), Qt::LeftButton);
    QTest::qWait(500);
    saveStation("velmora-station-8.png");
}

TEST_F(StationScreenshot, SixtyFourHubsOneFailed) {
    launchAndFinish("sixty-four-hubs-one-failing", 64);
    saveStation("velmora-station-64.png");
}

TEST_F(Screenshots, ScalarLayout) {
    launch(WindowSetup().withScenario("rom-code").withScalarMode(1).withFwBin("sample-update.bin"));
    save("velmora-scalar.png");
}

}  // namespace
}  // namespace velmora::testing
