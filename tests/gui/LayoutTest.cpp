// Both layouts: the boxes, their titles and frames in Qt's coordinates, the
// controls' texts and the items of the combo boxes.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTextEdit>

#include <fstream>

#include "WindowFixture.h"
#include "window/FrameGeometry.h"
#include "window/TableViewController.h"

namespace velmora::testing {
namespace {

using window::Frame;
using window::toQtRect;

struct FrameCase {
    Frame frame;
    int parentWidth;
    int parentHeight;
    QRect expected;
};

class FrameConversion : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameConversion, LowerLeftFramesBecomeTopLeftRects) {
    const FrameCase& c = GetParam();
    EXPECT_EQ(toQtRect(c.frame, c.parentWidth, c.parentHeight), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameConversion,
    ::testing::Values(
        // The update box in the full window: its top lies 660 - 290 - 365 = 5 below the top.
        FrameCase{{0, 290, 350, 365}, 1200, 660, QRect(0, 5, 350, 365)},
        // The same box in the scalar window, 670 high.
        FrameCase{{0, 290, 350, 365}, 360, 670, QRect(0, 15, 350, 365)},
        // The detail box.
        FrameCase{{720, 15, 450, 637}, 1200, 660, QRect(720, 8, 450, 637)},
        // A control at the bottom of its box's area.
        FrameCase{{230, 0, 70, 20}, 340, 130, QRect(230, 110, 70, 20)},
        // Half a point rounds to the nearer pixel.
        FrameCase{{200, 37.5, 120, 20}, 340, 240, QRect(200, 182, 120, 20)},
        // A frame past the parent's right edge is narrowed to end there.
        FrameCase{{0, 0, 450, 175}, 440, 600, QRect(0, 425, 440, 175)}));

class LayoutTest : public WindowFixture {
protected:
    QRect boxRect(QGroupBox* box) { return box->geometry(); }
    QStringList comboItems(QComboBox* combo) {
        QStringList items;
        for (int index = 0; index < combo->count(); ++index) items << combo->itemText(index);
        return items;
    }
    QStringList texts() {
        QStringList all;
        for (QPushButton* button : window().findChildren<QPushButton*>()) all << button->text();
        for (QLabel* label : window().findChildren<QLabel*>()) all << label->text();
        for (QLineEdit* field : window().findChildren<QLineEdit*>()) {
            if (!field->isEnabled()) all << field->text();  // the captions
        }
        return all;
    }
};

TEST_F(LayoutTest, FullLayoutShowsAllBoxesButTheScalarBoxIn1200By660) {
    launch(WindowSetup().withScenario("flash-code").withScalarMode(2));
    EXPECT_EQ(window().windowTitle(), "Velmora  1.02");
    EXPECT_EQ(window().centralWidget()->size(), QSize(1200, 660));
    EXPECT_EQ(window().size(), QSize(1200, 660 + window().menuBar()->sizeHint().height()));
    EXPECT_FALSE(window().scalarBox().box->isVisibleTo(&window()));
    for (QGroupBox* box : {window().helpBox().box, window().updateBox().box, window().easyUpdateBox().box,
                           window().flashBox().box, window().detailBox().box}) {
        EXPECT_TRUE(box->isVisibleTo(&window())) << box->title().toStdString();
    }
    EXPECT_EQ(boxRect(window().helpBox().box), QRect(0, 485, 350, 160));
    EXPECT_EQ(boxRect(window().updateBox().box), QRect(0, 5, 350, 365));
    EXPECT_EQ(boxRect(window().easyUpdateBox().box), QRect(360, 375, 350, 270));
    EXPECT_EQ(boxRect(window().flashBox().box), QRect(360, 30, 350, 270));
    EXPECT_EQ(boxRect(window().detailBox().box), QRect(720, 8, 450, 637));
    EXPECT_EQ(window().helpBox().box->title(), "Help Box");
    EXPECT_EQ(window().updateBox().box->title(), "Update Firmware Box");
    EXPECT_EQ(window().easyUpdateBox().box->title(), "Easy Updae Firmware Form *.bin file");
    // "&&" shows as one "&".
    EXPECT_EQ(window().flashBox().box->title(), "FirmWare From Flash && Detail Config ->");
    EXPECT_EQ(window().detailBox().box->title(), window().flashBox().box->title());
}

TEST_F(LayoutTest, ScalarModeOneShowsHelpScalarAndUpdateBoxesIn360By670) {
    launch(WindowSetup().withScenario("flash-code").withScalarMode(1).withFwBin("fw.bin"));
    EXPECT_EQ(window().centralWidget()->size(), QSize(360, 670));
    EXPECT_TRUE(window().scalarBox().box->isVisibleTo(&window()));
    EXPECT_TRUE(window().helpBox().box->isVisibleTo(&window()));
    EXPECT_TRUE(window().updateBox().box->isVisibleTo(&window()));
    for (QGroupBox* box : {window().easyUpdateBox().box, window().flashBox().box, window().detailBox().box}) {
        EXPECT_FALSE(box->isVisibleTo(&window())) << box->title().toStdString();
    }
    EXPECT_EQ(boxRect(window().helpBox().box), QRect(0, 495, 350, 160));
    EXPECT_EQ(boxRect(window().scalarBox().box), QRect(0, 395, 350, 90));
    EXPECT_EQ(boxRect(window().updateBox().box), QRect(0, 15, 350, 365));
    EXPECT_EQ(window().scalarBox().box->title(), "Scalar Update");
    // The configured name as written, not the full path.
    EXPECT_EQ(window().scalarBox().nstextfd_Scalar->text(), "fw.bin");
}

TEST_F(LayoutTest, ControlsCarryTheirTextsAndSitInsideTheirBoxes) {
    launch();
    const QStringList all = texts();
    for (const char* text : {"LoadUpdateDriver",
                             "UnloadUpdateDriver",
                             "Get Log",
                             "..",
                             "ScalarUpdate",
                             "Detect Hub Info",
                             "Update FW Info",
                             "...",
                             "Update",
                             "Read From Flash",
                             "Load From *.bin",
                             "Erase Flash",
                             "Save to *.bin",
                             "VID",
                             "SSPID",
                             "HSPID",
                             "ver",
                             "Manufacturer",
                             "Product",
                             "Serial Number",
                             "Container ID",
                             "PageName",
                             "ICType",
                             "Description",
                             "Binary Data"}) {
        EXPECT_TRUE(all.contains(QString::fromLatin1(text))) << text;
    }
    auto* help = window().findChild<QLabel*>("helpText");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->text().split('\n').size(), 4);
    EXPECT_TRUE(help->text().startsWith("Step1: Click \"LoadUpdateDriver\" to Load Driver\n"));
    // Every control lies wholly inside the area of its box.
    for (QWidget* child : window().centralWidget()->findChildren<QWidget*>()) {
        QWidget* area = child->parentWidget();
        if (area == nullptr || !area->objectName().endsWith("_content")) continue;
        EXPECT_TRUE(area->rect().contains(child->geometry()))
            << area->objectName().toStdString() << " " << child->metaObject()->className() << " at "
            << child->geometry().y() << "+" << child->geometry().height() << " in " << area->height();
    }
    // The pane at its frame: its bottom edge 35 points above the area's bottom.
    QWidget* updateArea = window().updateBox().nstfUpdateInfo_UpdateFW->parentWidget();
    EXPECT_EQ(window().updateBox().nstfUpdateInfo_UpdateFW->geometry(),
              QRect(0, updateArea->height() - 35 - 190, 335, 190));
    EXPECT_EQ(window().updateBox().slider->geometry(), QRect(0, updateArea->height() - 20, 330, 20));
    EXPECT_EQ(window().updateBox().slider->minimum(), 0);
    EXPECT_EQ(window().updateBox().slider->maximum(), 100);
}

TEST_F(LayoutTest, ComboBoxesStartWithTheirFirstItemAndReportNoChange) {
    launch();
    EXPECT_EQ(comboItems(window().detailBox().cbPages),
              (QStringList{"SSC", "DSP OCP/U1/U2", "System", "USP PHY", "DSP Setting", "DSP PHY"}));
    EXPECT_EQ(window().detailBox().cbPages->currentIndex(), 0);
    EXPECT_EQ(window().detailBox().cbPages->maxVisibleItems(), 10);
    EXPECT_FALSE(window().detailBox().cbPages->isEditable());
    EXPECT_EQ(comboItems(window().detailBox().cbICType), (QStringList{"ic/ZeloSim.INI"}));
    EXPECT_EQ(window().detailBox().cbICType->currentIndex(), 0);
    for (const std::string& line : consoleLines()) EXPECT_NE(line.rfind("selected value:", 0), 0u) << line;
    // The table's two columns.
    QAbstractItemModel* model = window().detailBox().tableView_Detail->model();
    EXPECT_EQ(model->columnCount(), 2);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "property");
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "curValue");
    EXPECT_EQ(window().detailBox().tableView_Detail->columnWidth(0), 266);
    EXPECT_EQ(window().detailBox().tableView_Detail->columnWidth(1), 170);
}

TEST_F(LayoutTest, ChipListAddsTheUsersDefinitionsAfterTheShippedOnes) {
    // The user's folder is written before the launch reads it.
    std::filesystem::create_directories(folder() / "user-data/mine");
    std::ofstream(folder() / "user-data/mine/Custom.INI") << "[HubFF_USB_01]\nPropName = x\n";
    std::ofstream(folder() / "user-data/mine/lower.ini") << "";
    launch();
    EXPECT_EQ(comboItems(window().detailBox().cbICType), (QStringList{"ic/ZeloSim.INI", "mine/Custom.INI"}));
}

TEST_F(LayoutTest, PaneAndViewsAskForHelveticaAndAreReadOnly) {
    launch();
    EXPECT_EQ(window().updateBox().nstfUpdateInfo_UpdateFW->font().family(), "Helvetica");
    EXPECT_EQ(window().updateBox().nstfUpdateInfo_UpdateFW->font().pixelSize(), 12);
    EXPECT_EQ(window().detailBox().txtViewBin_Detail->font().pixelSize(), 14);
    EXPECT_EQ(window().detailBox().txtViewDesc_Detail->font().pixelSize(), 14);
    for (QTextEdit* view :
         {window().updateBox().nstfUpdateInfo_UpdateFW, window().detailBox().txtViewBin_Detail,
          window().detailBox().txtViewDesc_Detail}) {
        EXPECT_TRUE(view->isReadOnly());
        EXPECT_EQ(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }
    EXPECT_TRUE(window().easyUpdateBox().txtVID_EasyUpdate->isReadOnly());
    EXPECT_FALSE(window().flashBox().txtVID_FwFlash->isReadOnly());
    EXPECT_TRUE(window().flashBox().txtVer_FwFlash->isReadOnly());
}

}  // namespace
}  // namespace velmora::testing
