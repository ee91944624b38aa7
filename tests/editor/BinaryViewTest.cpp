#include "EditorTestSupport.h"
#include "app/Console.h"
#include "editor/BinaryView.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace velmora::editor;
using velmora::testing::loadedBuffer;

std::vector<std::string> rowsOf(const std::string& text) {
    std::vector<std::string> rows;
    std::istringstream stream(text);
    for (std::string row; std::getline(stream, row);) {
        rows.push_back(row);
    }
    return rows;
}

TEST(BinaryView, RowsAreLabelledWithTheirImagePosition) {
    velmora::SilentConsole console;
    FirmwareBuffer buffer = loadedBuffer(32768, 0x7F00);
    buffer.blockByte(0) = 0xAA;
    buffer.blockByte(1) = 0x55;
    buffer.blockByte(2) = 0x1A;
    buffer.blockByte(3) = 0x2B;
    buffer.blockByte(255) = 0xFE;
    const std::optional<BinaryViewText> view = ShowBinary(buffer, 0, 0, console);
    ASSERT_TRUE(view);
    const std::vector<std::string> rows = rowsOf(view->text);
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows[0], "7F00h:AA 55 1A 2B 00 00 00 00 - 00 00 00 00 00 00 00 00 ");
    EXPECT_EQ(rows[15], "7FF0h:00 00 00 00 00 00 00 00 - 00 00 00 00 00 00 00 FE ");
    for (std::size_t row = 0; row < rows.size(); ++row) {
        char label[24];
        std::snprintf(label, sizeof label, "%04zXh:", 0x7F00 + row * 16);
        EXPECT_EQ(rows[row].substr(0, 6), label);
    }
    EXPECT_EQ(view->text.back(), '\n');
}

TEST(BinaryView, ShortLabelsArePaddedToFourDigits) {
    velmora::SilentConsole console;
    const std::optional<BinaryViewText> view = ShowBinary(loadedBuffer(256, 0), 0, 0, console);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->text.substr(0, 8), "0000h:55");
}

struct RangeCase {
    std::uint32_t begin;
    std::uint32_t end;
    std::string painted;  // the red characters
};

class BinaryViewRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(BinaryViewRange, PaintsFromTheLowerByteUpToTheHigher) {
    velmora::SilentConsole console;
    FirmwareBuffer buffer = loadedBuffer();
    for (std::size_t offset = 2; offset < 256; ++offset) {
        buffer.blockByte(offset) = static_cast<std::uint8_t>(offset);
    }
    const std::optional<BinaryViewText> view = ShowBinary(buffer, GetParam().begin, GetParam().end, console);
    ASSERT_TRUE(view);
    ASSERT_LE(view->highlightStart + view->highlightLength, view->text.size());
    EXPECT_EQ(view->text.substr(view->highlightStart, view->highlightLength), GetParam().painted);
}

INSTANTIATE_TEST_SUITE_P(Ranges, BinaryViewRange,
                         ::testing::Values(RangeCase{17, 18, "11 "}, RangeCase{18, 17, "11 "},
                                           RangeCase{5, 5, ""}, RangeCase{0, 0, ""},
                                           RangeCase{2, 8, "02 03 04 05 06 07 - "},
                                           RangeCase{7, 9, "07 - 08 "}, RangeCase{15, 16, "0F \n0110h:"},
                                           RangeCase{255, 256, "FF"}, RangeCase{254, 256, "FE FF"},
                                           RangeCase{300, 400, ""}));

TEST(BinaryView, NothingWithoutAnImage) {
    velmora::SilentConsole console;
    FirmwareBuffer empty;
    EXPECT_FALSE(ShowBinary(empty, 0, 0, console));
}

}  // namespace
