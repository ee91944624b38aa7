#include "EditorTestSupport.h"
#include "app/Console.h"
#include "editor/DescriptorFields.h"

#include <gtest/gtest.h>

namespace {

using velmora::testing::loadedBuffer;

std::vector<std::uint8_t> blockBytes(const FirmwareBuffer& buffer, std::size_t offset, std::size_t count) {
    const auto start = buffer.data.begin() + static_cast<std::ptrdiff_t>(*buffer.block + offset);
    return {start, start + static_cast<std::ptrdiff_t>(count)};
}

std::vector<std::uint8_t> stringArea(std::vector<std::uint8_t> start) {
    start.resize(35, 0);
    return start;
}

class DescriptorFields : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FW_SetStrings(buffer_, "ABC", "XY", "1"));
        ASSERT_TRUE(FW_SetContainerID(buffer_, "{00112233-4455-6677-8899-aabbccddeeff}"));
        buffer_.blockByte(2) = 0x1A;
        buffer_.blockByte(3) = 0x2B;
        buffer_.blockByte(10) = 0xF0;
        buffer_.blockByte(42) = 0xA0;
        texts_ = *UpdateTxt_FwFlash(buffer_);
    }

    IdentityEditResult editId(IdentityField field, const std::string& text) {
        texts_.field(field) = text;
        return applyIdEdit(buffer_, texts_, field, console_);
    }

    IdentityEditResult editString(IdentityField field, const std::string& text) {
        texts_.field(field) = text;
        return applyStringsEdit(buffer_, texts_, field, console_);
    }

    velmora::SilentConsole console_;
    FirmwareBuffer buffer_ = loadedBuffer();
    IdentityTexts texts_;
};

TEST_F(DescriptorFields, StringsAreStoredAsDescriptorEntries) {
    EXPECT_EQ(blockBytes(buffer_, 43, 35),
              stringArea({0x05, 0x03, 0x41, 0x42, 0x43, 0x04, 0x03, 0x58, 0x59, 0x03, 0x03, 0x31}));
    EXPECT_TRUE(FW_SetStrings(buffer_, "", "", ""));
    EXPECT_EQ(blockBytes(buffer_, 43, 35), stringArea({0x02, 0x03, 0x02, 0x03, 0x02, 0x03}));
    const std::string twentyNine(29, 'w');
    EXPECT_TRUE(FW_SetStrings(buffer_, twentyNine, "", ""));
    EXPECT_EQ(blockBytes(buffer_, 43 + 33, 2), (std::vector<std::uint8_t>{0x02, 0x03}));
}

TEST_F(DescriptorFields, OverlongStringsAreRefusedWithoutLosingTheStoredOnes) {
    const std::vector<std::uint8_t> before = blockBytes(buffer_, 43, 35);
    EXPECT_FALSE(FW_SetStrings(buffer_, std::string(10, 'm'), std::string(10, 'p'), std::string(10, 's')));
    EXPECT_EQ(blockBytes(buffer_, 43, 35), before);
    EXPECT_EQ(buffer_.manufacturer, "ABC");
}

TEST_F(DescriptorFields, ContainerIdTextsGiveTheSameBytesWithAndWithoutBraces) {
    const std::vector<std::uint8_t> expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    for (const char* text : {"{00112233-4455-6677-8899-AABBCCDDEEFF}", "00112233445566778899aabbccddeeff",
                             "0011 2233 4455 6677 8899 aabb ccdd eeff 1234"}) {
        EXPECT_TRUE(FW_SetContainerID(buffer_, text));
        EXPECT_EQ(blockBytes(buffer_, 78, 16), expected) << text;
        EXPECT_EQ(buffer_.containerIDText, text);
    }
    FW_SetContainerID(buffer_, "001122334455667788990011223344");  // 30 digits
    EXPECT_EQ(blockBytes(buffer_, 78 + 15, 1), std::vector<std::uint8_t>{0x00});
    const std::string longText(70, 'a');
    FW_SetContainerID(buffer_, longText);
    EXPECT_EQ(buffer_.containerIDText.size(), 63u);
}

TEST_F(DescriptorFields, FieldTextsShowTheStoredBytes) {
    std::vector<std::uint8_t> image = velmora::testing::makeImage(512, 256);
    velmora::testing::putWord(image, 249, 0x0123);
    FirmwareBuffer buffer;
    ASSERT_TRUE(FW_Parse(buffer, image.data(), 512));
    FW_SetStrings(buffer, "Velmora", "Hub", "7");
    editId(IdentityField::Vid, "1a2b");
    EXPECT_EQ(UpdateTxt_FwFlash(buffer_)->vid, "1A2B");
    const IdentityTexts texts = *UpdateTxt_FwFlash(buffer);
    EXPECT_EQ(texts.version, "0123");
    EXPECT_EQ(texts.manufacturer, "Velmora");
    EXPECT_EQ(texts.serial, "7");
    EXPECT_EQ(texts.containerId, "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(UpdateTxt_FwFlash(velmora::testing::loadedBuffer(256, 0))->version, "");
    EXPECT_FALSE(UpdateTxt_FwFlash(FirmwareBuffer{}));
}

struct IdCase {
    const char* name;
    IdentityField field;
    std::string text;
    std::vector<std::uint8_t> ids;  // block bytes 2..7 afterwards
    std::string shown;              // the edited field's text afterwards
    std::optional<std::string> alert;
    bool flag;
};

class IdEdit : public DescriptorFields, public ::testing::WithParamInterface<IdCase> {};

TEST_P(IdEdit, StoresFourDigitsAndFlagsRealChanges) {
    const IdCase& testCase = GetParam();
    const IdentityEditResult result = editId(testCase.field, testCase.text);
    EXPECT_TRUE(result.stored);
    EXPECT_EQ(blockBytes(buffer_, 2, 6), testCase.ids);
    EXPECT_EQ(result.texts.vid, testCase.field == IdentityField::Vid ? testCase.shown : "1A2B");
    EXPECT_EQ(result.alert, testCase.alert);
    EXPECT_EQ(result.flagSet, testCase.flag);
    EXPECT_EQ(buffer_.blockByte(10), testCase.flag ? 0xF1 : 0xF0);
    EXPECT_EQ(result.highlightBegin, 2u);
    EXPECT_EQ(result.highlightEnd, 8u);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, IdEdit,
    ::testing::Values(
        IdCase{"FifthCharacterCut",
               IdentityField::Vid,
               "1A2B3",
               {0x1A, 0x2B, 0, 0, 0, 0},
               "1A2B",
               "VID length should be 4.",
               false},
        IdCase{"Changed", IdentityField::Vid, "1A2C", {0x1A, 0x2C, 0, 0, 0, 0}, "1A2C", std::nullopt, true},
        IdCase{"PartlyTyped", IdentityField::Vid, "1A2", {0x1A, 0x20, 0, 0, 0, 0}, "1A2", std::nullopt, true},
        IdCase{"LowerCaseSameBytes",
               IdentityField::Vid,
               "1a2b",
               {0x1A, 0x2B, 0, 0, 0, 0},
               "1a2b",
               std::nullopt,
               false},
        IdCase{"SspidTooLong",
               IdentityField::Sspid,
               "123456",
               {0x1A, 0x2B, 0x12, 0x34, 0, 0},
               "1A2B",
               "SSPID length should be 4.",
               true},
        IdCase{"HspidTooLong",
               IdentityField::Hspid,
               "ABCDE",
               {0x1A, 0x2B, 0, 0, 0xAB, 0xCD},
               "1A2B",
               "HSPID length should be 4.",
               true},
        IdCase{"NonHexLetters",
               IdentityField::Hspid,
               "zz-1",
               {0x1A, 0x2B, 0, 0, 0x33, 0x01},
               "1A2B",
               std::nullopt,
               true},
        IdCase{"MultiByteCharacterCountsOnce",
               IdentityField::Sspid,
               "\xC3\xA9"
               "123",
               {0x1A, 0x2B, 0x01, 0x23, 0, 0},
               "1A2B",
               std::nullopt,
               true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DescriptorFields, ClearedIdStoresZerosAndFlags) {
    editId(IdentityField::Sspid, "0611");
    buffer_.blockByte(10) = 0;
    const IdentityEditResult result = editId(IdentityField::Sspid, "");
    EXPECT_EQ(blockBytes(buffer_, 4, 2), (std::vector<std::uint8_t>{0, 0}));
    EXPECT_TRUE(result.flagSet);
    EXPECT_EQ(buffer_.blockByte(10), 0x01);
}

TEST_F(DescriptorFields, VidAlertTakesPrecedence) {
    texts_.sspid = "123456";
    const IdentityEditResult result = editId(IdentityField::Vid, "ABCDEF");
    EXPECT_EQ(result.alert, "VID length should be 4.");
    EXPECT_EQ(result.texts.vid, "ABCD");
    EXPECT_EQ(result.texts.sspid, "123456");  // left for the next keystroke
}

TEST_F(DescriptorFields, EditingOneStringSetsOnlyItsFlag) {
    const IdentityEditResult result = editString(IdentityField::Product, "XYZ");
    EXPECT_TRUE(result.flagSet);
    EXPECT_EQ(buffer_.blockByte(42), 0xA4);
    EXPECT_EQ(buffer_.product, "XYZ");
    EXPECT_EQ(result.highlightBegin, 43u);
    EXPECT_EQ(result.highlightEnd, 94u);
    EXPECT_FALSE(editString(IdentityField::Product, "XYZ").flagSet);
}

TEST_F(DescriptorFields, ContainerIdFlagFollowsTheText) {
    editString(IdentityField::ContainerId, "{00112233-4455-6677-8899-aabbccddeef}");
    EXPECT_EQ(blockBytes(buffer_, 78 + 15, 1), std::vector<std::uint8_t>{0xF0});
    EXPECT_EQ(buffer_.blockByte(42), 0xA1);
    buffer_.blockByte(42) = 0;
    const std::vector<std::uint8_t> before = blockBytes(buffer_, 78, 16);
    editString(IdentityField::ContainerId, "00112233-4455-6677-8899-aabbccddeef");
    EXPECT_EQ(blockBytes(buffer_, 78, 16), before);
    EXPECT_EQ(buffer_.blockByte(42), 0x01);
}

// An area this program cannot read (a length byte of 1 here) may still mean
// something to the hub: editing another field must not rewrite it.
TEST(DescriptorFieldsUnreadableStrings, EditsOfOtherFieldsLeaveTheAreaAsItWas) {
    velmora::SilentConsole console;
    std::vector<std::uint8_t> image = velmora::testing::makeImage(512, 256);
    const std::vector<std::uint8_t> area = {0x01, 0x03, 'Q', 'R', 0x07, 0x99};
    velmora::testing::putStringArea(image, 256, area);
    const std::vector<std::pair<IdentityField, std::string>> edits = {
        {IdentityField::Vid, "1A2B"},
        {IdentityField::ContainerId, "{00112233-4455-6677-8899-aabbccddeeff}"},
    };
    for (const auto& [field, text] : edits) {
        FirmwareBuffer buffer;
        ASSERT_TRUE(FW_Parse(buffer, image.data(), static_cast<std::int64_t>(image.size())));
        const std::vector<std::uint8_t> before = blockBytes(buffer, 43, 35);
        EXPECT_TRUE(editIdentityField(buffer, field, text, console).stored);
        EXPECT_EQ(blockBytes(buffer, 43, 35), before);
        EXPECT_EQ(buffer.blockByte(42) & 0x0E, 0);  // no string flag either
    }
}

TEST_F(DescriptorFields, StringsAreCutBackTo29BytesSilently) {
    texts_.manufacturer = std::string(10, 'm');
    texts_.product = std::string(10, 'p');
    EXPECT_EQ(editString(IdentityField::Serial, std::string(9, 's')).texts.serial, std::string(9, 's'));
    const IdentityEditResult result = editString(IdentityField::Serial, std::string(10, 's'));
    EXPECT_EQ(result.texts.serial, std::string(9, 's'));
    EXPECT_FALSE(result.alert);
    EXPECT_EQ(buffer_.serial, std::string(9, 's'));
    // A two-byte character that does not fit goes whole.
    const IdentityEditResult accented = editString(IdentityField::Serial, std::string(8, 's') + "\xC3\xA9");
    EXPECT_EQ(accented.texts.serial, std::string(8, 's'));
}

TEST_F(DescriptorFields, OverlongStringsWhileEditingTheContainerIdCutTheSerial) {
    texts_.manufacturer = std::string(12, 'm');
    texts_.product = std::string(12, 'p');
    texts_.serial = "SIM0001";
    const IdentityEditResult result = editString(IdentityField::ContainerId, texts_.containerId);
    EXPECT_EQ(result.texts.serial, "SIM00");
    EXPECT_EQ(buffer_.manufacturer, std::string(12, 'm'));
}

TEST_F(DescriptorFields, SingleFieldEditsForCallersWithoutAWindow) {
    EXPECT_TRUE(editIdentityField(buffer_, IdentityField::Hspid, "0610", console_).flagSet);
    EXPECT_EQ(blockBytes(buffer_, 6, 2), (std::vector<std::uint8_t>{0x06, 0x10}));
    const IdentityEditResult serial = editIdentityField(buffer_, IdentityField::Serial, "SIM0001", console_);
    EXPECT_EQ(serial.texts.manufacturer, "ABC");
    EXPECT_EQ(buffer_.serial, "SIM0001");
    EXPECT_EQ(buffer_.blockByte(42), 0xA2);
    EXPECT_FALSE(editIdentityField(buffer_, IdentityField::Version, "9999", console_).stored);
    EXPECT_TRUE(FW_SetHexWord(buffer_, *buffer_.block + 2, "beef"));
    EXPECT_EQ(blockBytes(buffer_, 2, 2), (std::vector<std::uint8_t>{0xBE, 0xEF}));
    EXPECT_FALSE(FW_SetHexWord(buffer_, buffer_.data.size() - 1, "beef"));
}

TEST(DescriptorFieldsWithoutImage, EditsEmptyTheFieldAndAlert) {
    velmora::SilentConsole console;
    FirmwareBuffer empty;
    IdentityTexts texts;
    texts.vid = "1";
    texts.product = "P";
    const IdentityEditResult id = applyIdEdit(empty, texts, IdentityField::Vid, console);
    EXPECT_FALSE(id.stored);
    EXPECT_EQ(id.texts.vid, "");
    EXPECT_EQ(id.alert, "No Flash Data");
    const IdentityEditResult strings = applyStringsEdit(empty, texts, IdentityField::Product, console);
    EXPECT_EQ(strings.texts.product, "");
    EXPECT_EQ(strings.alert, "No Flash Data");
    EXPECT_FALSE(FW_SetStrings(empty, "A", "B", "C"));
    EXPECT_FALSE(FW_SetContainerID(empty, "00"));
}

}  // namespace
