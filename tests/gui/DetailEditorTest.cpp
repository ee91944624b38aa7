// The detail box as an editor: the pages of the property table, the pop-up lists
// of the values and what a choice writes, the not-editable alert, the description
// pane, the binary view and the page and chip-type selectors, on the shipped chip
// definition and the sample image.
#include <QAbstractItemDelegate>
#include <QComboBox>
#include <QFont>
#include <QScrollBar>
#include <fstream>

#include "EditorWindowFixture.h"

namespace velmora::testing {
namespace {

struct PageRows {
    const char* page;
    QStringList properties;
    QStringList values;  // as the sample image sets them
};

const std::vector<PageRows> kSamplePages = {
    {"SSC", {"SSC Enable", "SSC Depth", "SSC Modulation Rate"}, {"1 : On", "0 : -0.25%", "1 : 31.5 kHz"}},
    {"DSP OCP/U1/U2",
     {"Over-Current Protection", "U1 Enable", "U1 Timeout", "U2 Enable"},
     {"1 : Enabled", "1 : Accept", "1 : 2 us", "0 : Reject"}},
    // The heading item keeps its first option; a property without options has no value.
    {"System",
     {"Zelo Sim Hub", "Downstream Ports", "Self Powered", "Board Revision"},
     {"0 : Simulated hub, configuration block revision 1", "2 : 3 ports", "1 : Self powered", "Empty Value"}},
    {"USP PHY", {"USP TX Swing", "USP RX Equalizer"}, {"2 : 1000 mV", "1 : Medium"}},
    {"DSP Setting", {"Port 1 Removable", "Port 2 Removable"}, {"0 : Removable", "1 : Fixed"}},
    {"DSP PHY", {"DSP TX De-emphasis", "DSP RX Termination"}, {"0 : -3.5 dB", "1 : 50 Ohm"}},
};

// A chip whose one-bit field offers four options: only the lowest bit of a choice fits.
const char* const kNarrowChip =
    "[HubFF_USB_01]\nPropName = Narrow Field\nPropDesp = One bit, four options\nPageName = DSP Setting\n"
    "PropAddr = 120\nPropMask = 1\nPropOption_00 = A\nPropOption_01 = B\nPropOption_02 = C\n"
    "PropOption_03 = D\n";

class DetailEditorTest : public EditorWindowFixture {
protected:
    void writeNarrowChip() {
        std::filesystem::create_directories(folder() / "user-data/mine");
        std::ofstream(folder() / "user-data/mine/Narrow.INI") << kNarrowChip;
    }
    int countOf(const std::string& line) {
        const std::vector<std::string> lines = consoleLines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
};

TEST_F(DetailEditorTest, EveryPageListsItsPropertiesWithTheImagesValues) {
    launchWithSample();
    const int counted = countOf("Enter numberOfRowsInTableView");
    for (const PageRows& page : kSamplePages) {
        selectPage(page.page);
        EXPECT_EQ(column(0), page.properties) << page.page;
        EXPECT_EQ(column(1), page.values) << page.page;
    }
    // The table counts its rows at each of the five page changes.
    EXPECT_GE(countOf("Enter numberOfRowsInTableView"), counted + 5);
    // Only the values can be edited.
    EXPECT_FALSE(table().flags(table().index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_TRUE(table().flags(table().index(0, 1)) & Qt::ItemIsEditable);
}

TEST_F(DetailEditorTest, AClickOpensTheValuesPopUpWithTheStoredEntrySelected) {
    launchWithSample();
    selectPage("DSP OCP/U1/U2");
    QComboBox* popUp = openPopUp(rowOf("U1 Timeout"));
    ASSERT_NE(popUp, nullptr);
    QStringList entries;
    for (int entry = 0; entry < popUp->count(); ++entry) entries << popUp->itemText(entry);
    EXPECT_EQ(entries, (QStringList{"0 : 1 us", "1 : 2 us", "2 : 5 us", "3 : 10 us"}));
    EXPECT_EQ(popUp->currentIndex(), 1);
    // Looking without choosing writes nothing: the view commits a list that loses
    // its focus, and that commit leaves the value as it was.
    const std::vector<std::uint8_t> before = flashPage().data;
    popUp->setCurrentIndex(3);
    emit window().detailBox().tableView_Detail->itemDelegateForColumn(1)->commitData(popUp);
    settle();
    EXPECT_EQ(flashPage().data, before);
}

TEST_F(DetailEditorTest, ChoosingAnOptionWritesTheMaskedBitsAndPaintsTheByteRed) {
    writeNarrowChip();
    launchWithSample();
    selectPage("DSP OCP/U1/U2");
    choose(rowOf("U1 Timeout"), 3);  // block byte 101, mask 0x0F: 01 -> 03
    EXPECT_EQ(blockByte(101), 0x03);
    EXPECT_EQ(cell(rowOf("U1 Timeout"), 1), "3 : 10 us");
    EXPECT_EQ(redText(), "03 ");
    EXPECT_TRUE(dialogs_.alerts.empty());

    // Two properties share block byte 104: changing one leaves the other's bits.
    selectPage("System");
    choose(rowOf("Downstream Ports"), 0);  // mask 0x03 of 0x06
    EXPECT_EQ(blockByte(104), 0x04);
    EXPECT_EQ(cell(rowOf("Self Powered"), 1), "1 : Self powered");
    EXPECT_EQ(redText(), "04 ");

    // A one-bit field offered four options keeps only the bit under its mask.
    window().detailBox().cbICType->setCurrentIndex(1);
    selectPage("DSP Setting");
    ASSERT_EQ(column(0), QStringList{"Narrow Field"});
    choose(0, 3);  // 0x02 -> 0x03, not 0x02 | 3 << 0 spilling over the mask
    EXPECT_EQ(blockByte(120), 0x03);
    EXPECT_EQ(blockByte(121), 0x00);
}

TEST_F(DetailEditorTest, ADisabledPropertyAlertsNamingItsSwitchAndKeepsTheBuffer) {
    launchWithSample();
    selectPage("SSC");
    choose(rowOf("SSC Enable"), 0);  // block byte 96: 01 -> 00
    ASSERT_EQ(blockByte(96), 0x00);
    const std::vector<std::uint8_t> before = flashPage().data;
    choose(rowOf("SSC Depth"), 2);
    EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{
                                   "This Item is Not Editable.  To Change this Item,you should set\n\n SSC "
                                   "Enable\n(Addr 0x60[0:0])\n\nfrom 0 to 1"}));
    EXPECT_EQ(flashPage().data, before);
    EXPECT_EQ(cell(rowOf("SSC Depth"), 1), "0 : -0.25%");
    // Switched on again, the same choice goes through.
    choose(rowOf("SSC Enable"), 1);
    choose(rowOf("SSC Depth"), 2);
    EXPECT_EQ(blockByte(96), 0x05);
    EXPECT_EQ(dialogs_.alerts.size(), 1u);
}

TEST_F(DetailEditorTest, TheDescriptionFollowsTheSelectedRowAndOutlivesTheSelection) {
    launchWithSample();
    selectPage("DSP OCP/U1/U2");
    window().detailBox().tableView_Detail->selectRow(rowOf("U1 Timeout"));
    const QString description =
        "(addr:0x65  mask:0x0F)\nIdle time before the hub asks for U1 : \n0 : 1 us\n1 : 2 us\n2 : 5 us\n3 : "
        "10 us\n";
    EXPECT_EQ(window().detailBox().txtViewDesc_Detail->toPlainText(), description);
    selectPage("USP PHY");  // the rows are rebuilt and nothing is selected
    EXPECT_EQ(window().detailBox().txtViewDesc_Detail->toPlainText(), description);
    // The heading item shows its options only.
    selectPage("System");
    window().detailBox().tableView_Detail->selectRow(rowOf("Zelo Sim Hub"));
    EXPECT_EQ(window().detailBox().txtViewDesc_Detail->toPlainText(),
              "0 : Simulated hub, configuration block revision 1\n");
}

TEST_F(DetailEditorTest, TheBinaryViewShowsTheBlockInBlackRowsLabelledWithImagePositions) {
    launchWithSample();
    QTextEdit* view = window().detailBox().txtViewBin_Detail;
    const QStringList rows = view->toPlainText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 16);
    EXPECT_EQ(rows[0], "7F00h:55 AA 2F E3 06 11 06 10 - 00 00 00 00 00 00 00 00 ");
    EXPECT_TRUE(rows[15].startsWith("7FF0h:"));
    EXPECT_TRUE(redText().isEmpty());
    EXPECT_EQ(view->font().family(), "Helvetica");
    EXPECT_EQ(view->font().pixelSize(), 14);
    // A row fits the view's width: no row wraps onto a second line.
    EXPECT_EQ(view->document()->lineCount(), view->document()->blockCount());

    // A change far down the block is scrolled into view.
    selectPage("DSP PHY");
    view->verticalScrollBar()->setValue(0);
    choose(rowOf("DSP RX Termination"), 0);  // block byte 130: 04 -> 00
    EXPECT_EQ(redText(), "00 ");
    const QRect red = view->cursorRect();
    EXPECT_TRUE(view->viewport()->rect().contains(red)) << red.y();
}

TEST_F(DetailEditorTest, APageChangeRebuildsRowsResetsTheViewAndRefillsTheFields) {
    launchWithSample();
    selectPage("SSC");
    choose(rowOf("SSC Enable"), 0);
    ASSERT_FALSE(redText().isEmpty());
    window().flashBox().txtVID_FwFlash->selectAll();
    type(window().flashBox().txtVID_FwFlash, "1a2");
    ASSERT_EQ(window().flashBox().txtVID_FwFlash->text(), "1a2");
    selectPage("USP PHY");
    EXPECT_EQ(column(0), (QStringList{"USP TX Swing", "USP RX Equalizer"}));
    EXPECT_TRUE(redText().isEmpty());
    // The partly typed VID shows as it was stored.
    EXPECT_EQ(window().flashBox().txtVID_FwFlash->text(), "1A20");
    EXPECT_TRUE(consoleHas("selected value:USP PHY"));
}

TEST_F(DetailEditorTest, AChipChangeReadsTheNewDefinitionOnlyWhileAnImageIsLoaded) {
    writeNarrowChip();
    launch();
    window().detailBox().cbPages->setCurrentIndex(4);
    window().detailBox().cbICType->setCurrentIndex(1);  // no image: nothing is read
    EXPECT_EQ(table().rowCount(), 0);
    for (const std::string& line : consoleLines()) EXPECT_NE(line.rfind("ini is:", 0), 0u) << line;

    // A load reads the chip now selected and shows its first page.
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().flashBox().btnLoad_FwFlash->click();
    EXPECT_EQ(window().detailBox().cbPages->currentIndex(), 0);
    EXPECT_EQ(table().rowCount(), 0);  // the narrow chip has nothing on the first page
    selectPage("DSP Setting");
    EXPECT_EQ(column(0), QStringList{"Narrow Field"});
    EXPECT_EQ(column(1), QStringList{"0 : A"});  // bit 0 of 0x02

    // Back to the shipped chip: its values from the image, on the first page.
    window().detailBox().cbICType->setCurrentIndex(0);
    EXPECT_EQ(window().detailBox().cbPages->currentText(), "SSC");
    EXPECT_EQ(column(0), kSamplePages[0].properties);
    EXPECT_EQ(column(1), kSamplePages[0].values);
}

}  // namespace
}  // namespace velmora::testing
