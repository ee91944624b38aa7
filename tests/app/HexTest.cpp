// Hex text both ways: exact digit counts, either case read, nothing else taken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Hex.h"

namespace velmora {
namespace {

TEST(HexTest, WritesTheDigitsAsked) {
    EXPECT_EQ(hexText(0x2FE3, 4), "2FE3");
    EXPECT_EQ(hexText(0x102, 4, HexCase::Lower), "0102");
    EXPECT_EQ(hexText(0xE00002C5, 8), "E00002C5");
    EXPECT_EQ(hexText(UINT64_MAX, 2), "FFFFFFFFFFFFFFFF");  // never cut
    EXPECT_EQ(hexIds(0x2FE3, 0x611), "2FE3:0611");
    const std::vector<std::uint8_t> bytes = {0xC0, 0x09, 0x00, 0xAB};
    EXPECT_EQ(hexBytes(bytes, HexCase::Upper, " "), "C0 09 00 AB");
    EXPECT_EQ(hexBytes(bytes, HexCase::Lower), "c00900ab");
    EXPECT_EQ(bytesFromHex("C0 09 00 ab", " "), bytes);
    EXPECT_EQ(bytesFromHex("c00900AB"), bytes);
    EXPECT_EQ(bytesFromHex(""), std::vector<std::uint8_t>{});
}

struct HexRead {
    std::string text;
    std::size_t minDigits;
    std::size_t maxDigits;
    std::optional<std::uint64_t> value;
};

TEST(HexTest, ReadsOnlyDigitsOfTheCountsGiven) {
    for (const HexRead& read :
         {HexRead{"2fE3", 4, 4, 0x2FE3}, HexRead{"FFFFFFFFFFFFFFFF", 1, 16, UINT64_MAX},
          HexRead{"2FE", 4, 4, {}}, HexRead{"2FE30", 4, 4, {}}, HexRead{"", 0, 4, {}},
          HexRead{"0x12", 1, 16, {}}, HexRead{"-1", 1, 16, {}}, HexRead{"+1", 1, 16, {}},
          HexRead{" 1", 1, 16, {}}, HexRead{"12g", 1, 16, {}}, HexRead{"10000000000000000", 1, 17, {}}}) {
        EXPECT_EQ(parseHex(read.text, read.minDigits, read.maxDigits), read.value) << read.text;
    }
    for (const char* text : {"C0  09", "C0 09 ", " C0", "C 0", "C0-09", "C"})
        EXPECT_FALSE(bytesFromHex(text, " ")) << text;
}

}  // namespace
}  // namespace velmora
