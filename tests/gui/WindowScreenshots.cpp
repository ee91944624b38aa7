// Pictures of both layouts for a person to look at: the full window with an image
// loaded into the flash page and a finished update in the pane, and the scalar
// station after its run, and the detail box with a page chosen and a value just
// changed (its byte red in the binary view). Written to $VELMORA_SCREENSHOT_DIR (default: screenshots).
#include <QGroupBox>
#include <QPixmap>
#include <QPushButton>
#include <cstdlib>

#include "EditorWindowFixture.h"
#include "WindowFixture.h"

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

TEST_F(Screenshots, ScalarLayout) {
    launch(WindowSetup().withScenario("rom-code").withScalarMode(1).withFwBin("sample-update.bin"));
    save("velmora-scalar.png");
}

}  // namespace
}  // namespace velmora::testing
