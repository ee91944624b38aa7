#include "editor/GenFun.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

TEST(GenFun, MaskShiftAndBitRange) {
    // mask, shift, high, low
    const std::vector<std::tuple<int, int, int, int>> cases = {
        {0x80, 7, 7, 7}, {0x0C, 2, 3, 2}, {0x01, 0, 0, 0},     {0x81, 0, 7, 0},
        {0xF0, 4, 7, 4}, {0x30, 4, 5, 4}, {0x00, 8, 255, 255},
    };
    for (const auto& [mask, shift, high, low] : cases) {
        std::uint8_t highBit = 1;
        std::uint8_t lowBit = 1;
        GF_Mask2Bits(static_cast<std::uint8_t>(mask), &highBit, &lowBit);
        EXPECT_EQ(GF_MaskShift(static_cast<std::uint8_t>(mask)), shift) << mask;
        EXPECT_EQ(highBit, high) << mask;
        EXPECT_EQ(lowBit, low) << mask;
    }
}

TEST(GenFun, MaskedFieldsReadAndWriteOnlyTheirBits) {
    // byte before, mask, value written, byte after, value read back
    const std::vector<std::tuple<int, int, int, int, int>> cases = {
        {0xC5, 0x30, 2, 0xE5, 2},  // other bits kept
        {0x00, 0x01, 3, 0x01, 1},  // bits beyond the mask dropped
        {0xFF, 0x0C, 0, 0xF3, 0}, {0x5A, 0xF0, 0xA, 0xAA, 0xA},
        {0x5A, 0x00, 7, 0x5A, 0},  // the mask 0 takes no writes and reads 0
        {0x00, 0x80, 1, 0x80, 1},
    };
    for (const auto& [before, mask, value, after, readBack] : cases) {
        std::uint8_t byte = static_cast<std::uint8_t>(before);
        GF_SetMaskValue(&byte, static_cast<std::uint8_t>(mask), static_cast<std::uint8_t>(value));
        EXPECT_EQ(byte, after) << before << " " << mask << " " << value;
        EXPECT_EQ(GF_GetMaskValue(&byte, static_cast<std::uint8_t>(mask)), readBack);
    }
}

TEST(GenFun, HexDigitsAcceptEveryLetter) {
    const std::vector<std::pair<char, int>> cases = {
        {'0', 0},  {'9', 9},  {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15}, {'g', 16},
        {'z', 35}, {'Z', 35}, {'-', 0},  {'{', 0},  {'\0', 0}, {' ', 0},
    };
    for (const auto& [character, value] : cases) {
        EXPECT_EQ(GF_HexCharToValue(character), value) << character;
        EXPECT_EQ(GF_IsAlnum(character),
                  character != '-' && character != '{' && character != '\0' && character != ' ')
            << character;
    }
    EXPECT_FALSE(GF_IsAlnum(static_cast<char>(0xC3)));  // a UTF-8 lead byte is no letter
}

TEST(GenFunDeathTest, MissingOutArgumentIsNamed) {
    std::uint8_t bit = 0;
    EXPECT_DEATH(GF_Mask2Bits(0x0C, nullptr, &bit), "high");
    EXPECT_DEATH(GF_Mask2Bits(0x0C, &bit, nullptr), "low");
}

}  // namespace
