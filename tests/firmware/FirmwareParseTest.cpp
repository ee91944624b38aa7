#include "firmware/FirmwareBuffer.h"
#include "tests/support/SampleImage.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace velmora::testing;

bool parse(FirmwareBuffer& buffer, const std::vector<std::uint8_t>& image) {
    return FW_Parse(buffer, image.data(), static_cast<std::int64_t>(image.size()));
}

struct BlockCase {
    const char* name;
    std::size_t size;
    std::vector<std::size_t> signatures;
    std::optional<std::size_t> expectedBlock;
};

class BlockSearch : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockSearch, FindsTheLastSignatureOnTheGridFromTheEnd) {
    const BlockCase& testCase = GetParam();
    std::vector<std::uint8_t> image(testCase.size, 0);
    for (std::size_t position : testCase.signatures) {
        image[position] = 0x55;
        image[position + 1] = 0xAA;
    }
    FirmwareBuffer buffer;
    const bool result = parse(buffer, image);
    EXPECT_EQ(result, testCase.expectedBlock.has_value());
    EXPECT_EQ(buffer.loaded, result);
    EXPECT_EQ(buffer.block, testCase.expectedBlock);
    EXPECT_EQ(buffer.size, static_cast<std::int32_t>(testCase.size));
}

INSTANTIATE_TEST_SUITE_P(Images, BlockSearch,
                         ::testing::Values(BlockCase{"Exactly256AtStart", 256, {0}, 0},
                                           BlockCase{"Only255Bytes", 255, {0}, std::nullopt},
                                           BlockCase{"LaterBlockShadowsEarlier", 1024, {512, 768}, 768},
                                           BlockCase{"EarlierBlockFoundWhenAlone", 1024, {256}, 256},
                                           BlockCase{"OffGridSignatureIgnored", 1024, {700}, std::nullopt},
                                           BlockCase{"OddSizeTestsOnlyItsGrid", 300, {44}, 44},
                                           BlockCase{"OddSizeIgnoresOffsetZero", 300, {0}, std::nullopt},
                                           BlockCase{"NoSignature", 32768, {}, std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FirmwareParse, AcceptsEachSignatureAndNothingElse) {
    const std::vector<std::pair<std::array<std::uint8_t, 2>, bool>> cases = {
        {kSignatureAA55, true}, {kSignature3CC3, true}, {kSignature55AA, true},
        {{0x55, 0x55}, false},  {{0xC3, 0x3C}, false},  {{0xAA, 0xAA}, false},
    };
    for (const auto& [signature, expected] : cases) {
        FirmwareBuffer buffer;
        EXPECT_EQ(parse(buffer, makeImage(512, 256, signature)), expected)
            << int(signature[0]) << " " << int(signature[1]);
    }
}

TEST(FirmwareParse, EmptyImageIsNeverLoaded) {
    FirmwareBuffer buffer;
    const std::uint8_t byte = 0;
    EXPECT_FALSE(FW_Parse(buffer, &byte, 0));
    EXPECT_FALSE(buffer.loaded);
    EXPECT_TRUE(buffer.data.empty());
}

TEST(FirmwareParse, LocatesTheIdentityFields) {
    std::vector<std::uint8_t> image = makeImage(1024, 512);
    putWord(image, 512 + 2, 0x1A2B);
    putWord(image, 512 - 7, 0x0123);
    FirmwareBuffer buffer;
    ASSERT_TRUE(parse(buffer, image));
    EXPECT_EQ(buffer.vid, 514u);
    EXPECT_EQ(buffer.sspid, 516u);
    EXPECT_EQ(buffer.hspid, 518u);
    EXPECT_EQ(buffer.strings, 555u);
    EXPECT_EQ(buffer.containerID, 590u);
    EXPECT_EQ(buffer.stringsLength, 35u);
    EXPECT_EQ(buffer.containerIDLength, 16u);
    ASSERT_TRUE(buffer.version.has_value());
    EXPECT_EQ(*buffer.version, 505u);
    EXPECT_EQ(buffer.data[buffer.vid], 0x1A);
    EXPECT_EQ(buffer.data[buffer.vid + 1], 0x2B);
    EXPECT_EQ(buffer.data[*buffer.version + 1], 0x23);
}

TEST(FirmwareParse, VersionIsUnsetWhenTheBlockStartsTooCloseToTheImageStart) {
    FirmwareBuffer buffer;
    ASSERT_TRUE(parse(buffer, makeImage(256, 0)));
    EXPECT_FALSE(buffer.version.has_value());
    ASSERT_TRUE(parse(buffer, makeImage(263, 7)));
    EXPECT_EQ(buffer.version, std::optional<std::size_t>(0));
}

TEST(FirmwareParse, ImageWithoutBlockReplacesTheOldImageButIsNotLoaded) {
    FirmwareBuffer buffer;
    ASSERT_TRUE(parse(buffer, makeImage(512, 256)));
    const std::vector<std::uint8_t> plain(600, 0x11);
    EXPECT_FALSE(parse(buffer, plain));
    EXPECT_FALSE(buffer.loaded);
    EXPECT_FALSE(buffer.block.has_value());
    EXPECT_EQ(buffer.data, plain);
    EXPECT_EQ(buffer.vid, 0u);
}

TEST(FirmwareParse, LengthBeyondTheSignedSizeLeavesTheBufferUntouched) {
    FirmwareBuffer buffer;
    const std::vector<std::uint8_t> image = makeImage(512, 256);
    ASSERT_TRUE(parse(buffer, image));
    const std::int64_t tooLong = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    EXPECT_FALSE(FW_Parse(buffer, image.data(), tooLong));
    EXPECT_TRUE(buffer.loaded);
    EXPECT_EQ(buffer.data, image);
}

TEST(FirmwareParse, ContainerIdText) {
    std::vector<std::uint8_t> image = makeImage(256, 0);
    for (std::uint8_t index = 0; index < 16; ++index) {
        image[78 + index] = index;
    }
    FirmwareBuffer buffer;
    ASSERT_TRUE(parse(buffer, image));
    EXPECT_EQ(buffer.containerIDText, "{00010203-0405-0607-0809-0a0b0c0d0e0f}");
    for (std::uint8_t index = 0; index < 16; ++index) {
        image[78 + index] = static_cast<std::uint8_t>(index * 0x11);
    }
    ASSERT_TRUE(parse(buffer, image));
    EXPECT_EQ(buffer.containerIDText, "{00112233-4455-6677-8899-aabbccddeeff}");
}

// The texts a save would write back come from the image being saved, never from the
// one parsed before it into the same buffer.
TEST(FirmwareParse, NothingOfThePreviousImageSurvivesTheNextParse) {
    std::vector<std::uint8_t> first = makeImage(512, 256);
    putStringArea(first, 256, {0x05, 0x03, 'A', 'B', 'C', 0x04, 0x03, 'X', 'Y', 0x03, 0x03, '1'});
    std::vector<std::uint8_t> brokenStrings = makeImage(512, 256);
    putStringArea(brokenStrings, 256, {0x01, 0x03, 'Q'});
    const std::vector<std::vector<std::uint8_t>> nextImages = {
        makeImage(256, 0), brokenStrings, std::vector<std::uint8_t>(512, 0x11), {}};
    for (const std::vector<std::uint8_t>& next : nextImages) {
        FirmwareBuffer buffer;
        ASSERT_TRUE(parse(buffer, first));
        ASSERT_EQ(buffer.manufacturer, "ABC");
        parse(buffer, next);
        EXPECT_EQ(buffer.manufacturer, "");
        EXPECT_EQ(buffer.product, "");
        EXPECT_EQ(buffer.serial, "");
        if (!buffer.loaded) {
            EXPECT_EQ(buffer.containerIDText, "");
        }
    }
}

struct StringCase {
    const char* name;
    std::vector<std::uint8_t> area;
    std::string manufacturer;
    std::string product;
    std::string serial;
};

class StringWalk : public ::testing::TestWithParam<StringCase> {};

// The texts start as "old", as after an image parsed before: an entry the walk does
// not find must read empty, never keep the text of that other image.
TEST_P(StringWalk, CopiesOnlyWholeEntriesInsideTheArea) {
    const StringCase& testCase = GetParam();
    std::vector<std::uint8_t> image = makeImage(256, 0);
    putStringArea(image, 0, testCase.area);
    image[78] = 'Z';  // the byte after the area must never end up in a text
    FirmwareBuffer buffer;
    buffer.manufacturer = buffer.product = buffer.serial = "old";
    ASSERT_TRUE(parse(buffer, image));
    EXPECT_EQ(buffer.manufacturer, testCase.manufacturer);
    EXPECT_EQ(buffer.product, testCase.product);
    EXPECT_EQ(buffer.serial, testCase.serial);
}

std::vector<std::uint8_t> entries(std::initializer_list<std::string> texts) {
    std::vector<std::uint8_t> area;
    for (const std::string& text : texts) {
        area.push_back(static_cast<std::uint8_t>(text.size() + 2));
        area.push_back(3);
        area.insert(area.end(), text.begin(), text.end());
    }
    return area;
}

std::vector<std::uint8_t> withLength(std::vector<std::uint8_t> area, std::size_t index, std::uint8_t length) {
    area.at(index) = length;
    return area;
}

INSTANTIATE_TEST_SUITE_P(
    Areas, StringWalk,
    ::testing::Values(
        StringCase{"ThreeEntries", entries({"ABC", "XY", "1"}), "ABC", "XY", "1"},
        StringCase{"ZeroLengthStops", entries({"ABC", "XY"}), "ABC", "XY", ""},
        StringCase{"EmptyArea", {}, "", "", ""},
        StringCase{"FirstLengthOver35", withLength(entries({"ABC"}), 0, 36), "", "", ""},
        StringCase{"FirstLengthExactly35", entries({std::string(33, 'm')}), std::string(33, 'm'), "", ""},
        StringCase{"ThirdEndsAtByte35", entries({"ABCDEFGHIJ", "KLMNOPQRSTU", "VWXYZ123"}), "ABCDEFGHIJ",
                   "KLMNOPQRSTU", "VWXYZ123"},
        StringCase{"ThirdReachesByte36", entries({"ABCDEFGHIJ", "KLMNOPQRSTU", "VWXYZ1234"}), "ABCDEFGHIJ",
                   "KLMNOPQRSTU", ""},
        StringCase{"LengthOneEndsTheWalk", withLength(entries({"ABC", "XY"}), 5, 1), "ABC", "", ""},
        StringCase{"LengthOneFirst", withLength(entries({"ABC"}), 0, 1), "", "", ""},
        StringCase{"LengthTwoIsEmptyText", entries({"", "XY"}), "", "XY", ""},
        StringCase{"TypeByteIgnored", withLength(entries({"ABC"}), 1, 0x99), "ABC", "", ""},
        StringCase{"NulInsideEndsText", entries({std::string("A\0C", 3)}), "A", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
