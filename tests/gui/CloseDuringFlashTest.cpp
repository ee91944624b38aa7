// The window closed while an update writes the hub's flash: it asks, never closes
// mid-write, and closes by itself once the write is done when told so.
#include <QPushButton>
#include <fstream>
#include <iterator>

#include "WindowFixture.h"
#include "device/VendorCommands.h"
#include "window/GuiHandOver.h"

namespace velmora::testing {
namespace {

struct CloseCase {
    const char* name;
    window::CloseAnswer answer;
    int questions;        // for two closes in the span: a close already waiting asks nothing
    bool closesByItself;  // once the update is done
};

class CloseDuringFlashTest : public WindowFixture, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseDuringFlashTest, TheUpdateEndsWholeBeforeTheWindowCloses) {
    launch(WindowSetup().withScenario("rom-code"));
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    dialogs_.closeAnswer = GetParam().answer;
    // Closed twice on the first erase request, from the GUI thread, while the worker waits.
    int refused = 0;
    bool tried = false;  // the worker's own
    session().connection().setRequestObserver([this, &refused, &tried](const UsbSetup& setup, IOReturn) {
        if (setup.bRequest != vendor::kRequestEraseFlash || tried) return;
        tried = true;
        window::runOnGuiThread(
            &window(),
            [this, &refused] {
                for (int attempt = 0; attempt < 2; ++attempt) refused += window().close() ? 0 : 1;
            },
            Qt::BlockingQueuedConnection);
    });
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().easyUpdateBox().btnSelect_EasyUpdate->click();
    window().easyUpdateBox().btnUpdate_EasyUpdate->click();
    ASSERT_TRUE(waitForWorkflowEnd());

    EXPECT_EQ(refused, 2);
    EXPECT_EQ(dialogs_.closeQuestions, GetParam().questions);
    EXPECT_TRUE(paneText().endsWith("Update FW Success\n")) << paneText().toStdString();
    std::ifstream file(sampleImagePath(), std::ios::binary);
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(file), {}};
    const std::vector<std::uint8_t> flash = hub().flashContents();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    if (GetParam().closesByItself) {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window().isVisible(); }, kPatienceMs));
    } else {
        // Kept open; out of the span a close asks nothing.
        EXPECT_TRUE(window().isVisible());
        EXPECT_TRUE(window().close());
        EXPECT_EQ(dialogs_.closeQuestions, GetParam().questions);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseDuringFlashTest,
                         ::testing::Values(CloseCase{"KeepOpen", window::CloseAnswer::KeepOpen, 2, false},
                                           CloseCase{"CloseWhenDone", window::CloseAnswer::CloseWhenDone, 1,
                                                     true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::testing
