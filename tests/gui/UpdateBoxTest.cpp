// The update box on its own, without a window or a session: the status pane takes
// the colour of its last append over the whole text, the slider shows progress
// and the hub info field shows detection's text in its colour.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTextEdit>

#include "window/UpdateBox.h"

namespace velmora::testing {
namespace {

QColor textColour(const QWidget* view) {
    return view->palette().color(QPalette::Active, QPalette::Text);
}

class UpdateBoxTest : public ::testing::Test {
protected:
    UpdateBoxTest() { frame_.setGeometry(0, 0, 350, 365); }
    QString pane() const { return box_.nstfUpdateInfo_UpdateFW->toPlainText(); }

    QGroupBox frame_;
    window::UpdateBox box_{frame_};
};

TEST_F(UpdateBoxTest, ThePaneTakesTheColourOfTheLastAppendOverItsWholeText) {
    box_.appendProgressInfo_Blue("Erase Flash...\n");
    EXPECT_EQ(textColour(box_.nstfUpdateInfo_UpdateFW), QColor(Qt::blue));
    box_.appendProgressInfo_Red("Update FW Fail\n");
    EXPECT_EQ(pane(), "Erase Flash...\nUpdate FW Fail\n");
    EXPECT_EQ(textColour(box_.nstfUpdateInfo_UpdateFW), QColor(Qt::red));
    box_.appendProgressInfo_Blue("Update FW Success\n");
    EXPECT_EQ(textColour(box_.nstfUpdateInfo_UpdateFW), QColor(Qt::blue));

    box_.resetProgressInfo();
    box_.appendProgressInfo_Blue("new\n");
    EXPECT_EQ(pane(), "new\n");
}

// The slider and the hub info field in one case: each is a single call.
TEST_F(UpdateBoxTest, TheSliderShowsWholePercentsAndTheHubInfoItsColour) {
    EXPECT_EQ(box_.slider->minimum(), 0);
    EXPECT_EQ(box_.slider->maximum(), 100);
    box_.updateProgressBar(50);
    EXPECT_EQ(box_.slider->value(), 50);
    box_.updateProgressBar(99.6);
    EXPECT_EQ(box_.slider->value(), 100);

    box_.showHubInfo({"Detect Zelo Hub : Success", TextColour::Blue});
    EXPECT_EQ(box_.nstfHubInfo_UpdateFW->toPlainText(), "Detect Zelo Hub : Success");
    EXPECT_EQ(textColour(box_.nstfHubInfo_UpdateFW), QColor(Qt::blue));
    box_.showHubInfo({kHubNotFoundText, TextColour::Red});
    EXPECT_EQ(box_.nstfHubInfo_UpdateFW->toPlainText(), kHubNotFoundText);
    EXPECT_EQ(textColour(box_.nstfHubInfo_UpdateFW), QColor(Qt::red));
}

}  // namespace
}  // namespace velmora::testing
