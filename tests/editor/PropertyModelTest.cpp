#include "EditorTestSupport.h"
#include "app/Console.h"
#include "editor/PropertyCells.h"
#include "editor/PropertyModel.h"

#include <gtest/gtest.h>

namespace {

using namespace velmora::editor;
using velmora::testing::loadedBuffer;
using velmora::testing::ScratchFolder;

// A small chip: a heading, a switch that enables a speed setting, and fields sharing
// byte 20 under different masks.
const char* const kChip = R"(
[HubFF_USB_00]
PropName = Heading
PageName = System
PropOption_00 = Zelo
[HubFF_USB_01]
PropName = Speed Enable
PageName = System
PropAddr = 10
PropMask = 8
PropOption_00 = Off
PropOption_01 = On
[HubFF_USB_02]
PropName = Speed
PropDesp = Link speed
PageName = SSC
PropAddr = 20
PropMask = 48
BaseOnAddr = 10
BaseOnMask = 8
PropOption_00 = Low
PropOption_01 = Mid
PropOption_02 = High
[HubFF_USB_03]
PropName = Middle Bits
PageName = SSC
PropAddr = 20
PropMask = 12
[HubFF_USB_04]
PropName = Low Bit
PageName = ssc
PropAddr = 20
PropMask = 1
PropOption_00 = A
PropOption_01 = B
PropOption_02 = C
PropOption_03 = D
[HubFF_USB_05]
PropName = High Nibble
PageName = DSP PHY
PropAddr = 20
PropMask = 240
BaseOnAddr = 0
BaseOnMask = 255
PropOption_00 = Zero
PropOption_05 = Five
[HubFF_USB_06]
PropName = Orphan
PageName = DSP PHY
PropAddr = 30
PropMask = 1
BaseOnAddr = 40
BaseOnMask = 2
PropOption_00 = No
PropOption_01 = Yes
)";

class PropertyModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.writeText("chips/Chip.INI", kChip);
        model_.LoadIni(folder_.path().string(), "chips/Chip.INI");
        ASSERT_EQ(model_.allItemList().size(), 7u);
    }

    std::uint8_t& byte(std::size_t offset) { return buffer_.blockByte(offset); }

    ScratchFolder folder_;
    velmora::SilentConsole console_;
    PropertyModel model_{console_};
    FirmwareBuffer buffer_ = loadedBuffer();
};

TEST_F(PropertyModelTest, RefreshReadsEachMaskedFieldButNotTheHeading) {
    byte(20) = 0x5A;
    model_.RefreshCurValues(buffer_);
    const PropItemList& items = model_.allItemList();
    EXPECT_EQ(items[0]->curValue, "0");
    EXPECT_EQ(items[3]->curValue, "2");  // mask 0x0C
    EXPECT_EQ(items[4]->curValue, "0");  // mask 0x01
    EXPECT_EQ(items[5]->curValue, "5");  // mask 0xF0
}

TEST_F(PropertyModelTest, PageFilterMatchesExactlyAndSharesItems) {
    model_.selectPage("SSC");
    ASSERT_EQ(model_.numberOfRows(), 2u);
    EXPECT_EQ(model_.cellValue(0, "property"), "Speed");
    EXPECT_EQ(model_.cellValue(1, "property"), "Middle Bits");
    EXPECT_EQ(model_.propItemList()[0], model_.allItemList()[2]);
    model_.selectPage("DSP OCP/U1/U2");
    EXPECT_EQ(model_.numberOfRows(), 0u);
    model_.LoadIni(folder_.path().string(), "chips/Chip.INI");
    EXPECT_EQ(model_.numberOfRows(), 0u);
    model_.LoadIni(folder_.path().string(), "");
    EXPECT_TRUE(model_.allItemList().empty());
}

TEST_F(PropertyModelTest, CellValuesAndPopupPositions) {
    model_.selectPage("DSP PHY");
    EXPECT_EQ(model_.popupTitles(0), (std::vector<std::string>{"0 : Zero", "5 : Five"}));
    EXPECT_EQ(model_.cellValue(0, "curValue"), "0 : Zero");
    model_.allItemList()[5]->curValue = "5";
    EXPECT_EQ(model_.cellValue(0, "curValue"), "5 : Five");
    model_.allItemList()[5]->curValue = "3";
    EXPECT_EQ(model_.cellValue(0, "curValue"), "Empty Value");
    EXPECT_EQ(model_.cellValue(0, "other"), "Empty Value");
    EXPECT_EQ(model_.cellValue(9, "property"), "Empty Value");
    model_.selectPage("SSC");
    EXPECT_EQ(model_.cellValue(1, "curValue"), "Empty Value");  // no options
    EXPECT_TRUE(model_.popupTitles(1).empty());

    EXPECT_EQ(popupPosition("1 : On", 2), std::optional<std::size_t>(1));
    EXPECT_EQ(popupPosition("Empty Value", 2), std::optional<std::size_t>(0));
    EXPECT_EQ(popupPosition("5 : Five", 2), std::nullopt);  // beyond the list: nothing selected
    EXPECT_EQ(popupPosition("Empty Value", 0), std::nullopt);
}

TEST_F(PropertyModelTest, ChoosingAnOptionWritesItsPositionUnderTheMask) {
    byte(10) = 0x08;
    byte(20) = 0xC5;
    model_.selectPage("SSC");
    const OptionResult result = model_.chooseOption(buffer_, 0, 2);
    EXPECT_EQ(result.outcome, OptionOutcome::Changed);
    EXPECT_EQ(byte(20), 0xE5);
    EXPECT_EQ(model_.cellValue(0, "curValue"), "2 : High");
    EXPECT_EQ(result.highlightBegin, 20u);
    EXPECT_EQ(result.highlightEnd, 21u);

    byte(20) = 0x00;
    EXPECT_EQ(model_.setProperty(buffer_, "Low Bit", "D").outcome, OptionOutcome::Changed);
    EXPECT_EQ(byte(20), 0x01);  // position 3 loses the bits outside the mask
    EXPECT_EQ(model_.allItemList()[4]->curValue, "3");
}

TEST_F(PropertyModelTest, EnablingFieldDecidesWhetherAnItemMayChange) {
    struct Case {
        const char* property;
        const char* option;
        std::uint8_t enablingByte;
        bool editable;
    };
    const std::vector<Case> cases = {
        {"Speed", "1", 0x08, true},         // bit 3 of byte 10 set
        {"Speed", "1", 0xF7, false},        // every bit but bit 3
        {"High Nibble", "5", 0x00, true},   // BaseOnAddr 0: always editable
        {"Speed Enable", "1", 0x00, true},  // no enabling field
    };
    for (const Case& testCase : cases) {
        byte(10) = testCase.enablingByte;
        byte(20) = 0;
        const OptionResult result = model_.setProperty(buffer_, testCase.property, testCase.option);
        if (testCase.editable) {
            EXPECT_EQ(result.outcome, OptionOutcome::Changed) << testCase.property;
        } else {
            EXPECT_EQ(result.outcome, OptionOutcome::NotEditable) << testCase.property;
            EXPECT_EQ(byte(20), 0) << testCase.property;
        }
    }
}

TEST_F(PropertyModelTest, NotEditableAlertNamesTheControllingItem) {
    byte(10) = 0;
    const OptionResult result = model_.setProperty(buffer_, "Speed", "Mid");
    EXPECT_EQ(result.alertText,
              "This Item is Not Editable.  To Change this Item,you should set\n\n Speed Enable\n(Addr "
              "0x0A[3:3])\n\n"
              "from 0 to 1");
    EXPECT_EQ(model_.allItemList()[2]->curValue, "0");
    EXPECT_EQ(model_.setProperty(buffer_, "Orphan", "Yes").alertText,
              "This Item is Not Editable.  To Change this Item,you should set\n\n the enabling field\n"
              "(Addr 0x28[1:1])\n\nfrom 0 to 1");
}

TEST_F(PropertyModelTest, ChoicesWithoutImageOrOptionAreIgnored) {
    FirmwareBuffer empty;
    EXPECT_EQ(model_.setProperty(empty, "Speed Enable", "On").outcome, OptionOutcome::NotLoaded);
    EXPECT_EQ(model_.setProperty(buffer_, "Nobody", "On").outcome, OptionOutcome::NoSuchRow);
    EXPECT_EQ(model_.setProperty(buffer_, "Speed Enable", "Maybe").outcome, OptionOutcome::NoSuchOption);
    model_.selectPage("System");
    EXPECT_EQ(model_.chooseOption(buffer_, 1, 2).outcome, OptionOutcome::NoSuchOption);
    EXPECT_EQ(model_.chooseOption(buffer_, 5, 0).outcome, OptionOutcome::NoSuchRow);
}

TEST_F(PropertyModelTest, DescriptionPaneText) {
    model_.selectPage("SSC");
    EXPECT_EQ(model_.descriptionText(0),
              "(addr:0x14  mask:0x30)\nLink speed : \n0 : Low\n1 : Mid\n2 : High\n");
    model_.selectPage("System");
    EXPECT_EQ(model_.descriptionText(0), "0 : Zelo\n");  // the heading shows only its options
    EXPECT_EQ(model_.descriptionText(7), "");
}

TEST_F(PropertyModelTest, PageLinesForTheCommandLine) {
    byte(20) = 0x50;
    model_.RefreshCurValues(buffer_);
    const std::vector<PropertyLine> lines = model_.pageLines("DSP PHY");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].property, "High Nibble");
    EXPECT_EQ(lines[0].value, "5 : Five");
    EXPECT_EQ(model_.numberOfRows(), 0u);  // the table's page is left alone
}

}  // namespace
