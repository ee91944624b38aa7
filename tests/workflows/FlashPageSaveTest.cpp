// Saving the flash page: the length checks, what is stored from the fields, the
// string area printed, and a file written whole or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/Console.h"
#include "tests/support/ScratchFolder.h"
#include "tests/workflows/RecordingReporter.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/FlashPageSave.h"

namespace velmora::testing {
namespace {

FlashPageFields fields(std::string vid, std::string manufacturer, std::string product, std::string serial) {
    FlashPageFields texts;
    texts.vid = std::move(vid);
    texts.sspid = "0611";
    texts.hspid = "0610";
    texts.version = "0102";
    texts.manufacturer = std::move(manufacturer);
    texts.product = std::move(product);
    texts.serial = std::move(serial);
    return texts;
}

class FlashPageSaveTest : public ::testing::Test {
protected:
    FlashPageSaveTest() {
        const std::vector<std::uint8_t> bytes = sampleImage(4096);
        FW_Parse(flashPage_, bytes.data(), static_cast<std::int64_t>(bytes.size()));
        original_ = flashPage_.data;
    }

    bool save(const FlashPageFields& texts) {
        return save_FwFlash(flashPage_, texts, reporter_, console_, printed_);
    }

    FirmwareBuffer flashPage_;
    std::vector<std::uint8_t> original_;
    RecordingReporter reporter_;
    RecordingConsole console_;
    std::ostringstream printed_;
};

struct LengthCase {
    const char* name;
    FlashPageFields texts;
    bool accepted;
};

class SaveLengthTest : public FlashPageSaveTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(SaveLengthTest, RefusesWithoutTouchingTheImage) {
    EXPECT_EQ(save(GetParam().texts), GetParam().accepted);
    if (GetParam().accepted) {
        EXPECT_TRUE(reporter_.alerts.empty());
    } else {
        EXPECT_EQ(reporter_.alerts, std::vector<std::string>{"Data Length Error"});
        EXPECT_EQ(flashPage_.data, original_);
        EXPECT_TRUE(printed_.str().empty());
    }
}

FlashPageFields withVersion(std::string version) {
    FlashPageFields texts = fields("2FE3", "a", "b", "c");
    texts.version = std::move(version);
    return texts;
}

INSTANTIATE_TEST_SUITE_P(
    FieldLengths, SaveLengthTest,
    ::testing::Values(
        LengthCase{"VidOfThree", fields("2FE", "a", "b", "c"), false},
        LengthCase{"VidOfFive", fields("2FE30", "a", "b", "c"), false},
        LengthCase{"VersionOfThree", withVersion("010"), false},
        LengthCase{"StringsOf29Bytes", fields("2FE3", "0123456789", "0123456789", "012345678"), true},
        LengthCase{"StringsOf30Bytes", fields("2FE3", "0123456789", "0123456789", "0123456789"), false},
        LengthCase{"TwoByteCharactersCountTwice", fields("2FE3", "ÄÄÄÄÄÄ", "0123456789", "012345678"),
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashPageSaveTest, StoresTheFieldsAndPrintsTheStringArea) {
    ASSERT_TRUE(save(fields("1a2b", "ABC", "XY", "1")));

    EXPECT_EQ(flashPage_.blockByte(2), 0x1A);
    EXPECT_EQ(flashPage_.blockByte(3), 0x2B);
    EXPECT_EQ(printed_.str(),
              "05 03 41 42 43 04 03 58 \n"
              "59 03 03 31 00 00 00 00 \n"
              "00 00 00 00 00 00 00 00 \n"
              "00 00 00 00 00 00 00 00 \n"
              "00 00 00 \n");
    EXPECT_EQ(console_.lines().front(), "Length in textfield : 4-4-4-4-3-2-1\n");
}

// A save stores the fields as the page shows them. When the image's string area
// cannot be read (broken, or empty after an image that had strings), the page shows
// empty strings, and an ID-only change must leave the area's bytes as they were.
TEST_F(FlashPageSaveTest, IdOnlyChangeLeavesAStringAreaItCannotReadUntouched) {
    const std::vector<std::vector<std::uint8_t>> areas = {{0x01, 0x03, 'Q', 'R', 0x07}, {}};
    for (const std::vector<std::uint8_t>& area : areas) {
        std::vector<std::uint8_t> bytes = sampleImage(4096);
        ASSERT_TRUE(FW_Parse(flashPage_, bytes.data(), static_cast<std::int64_t>(bytes.size())));
        ASSERT_FALSE(flashPage_.manufacturer.empty());
        const std::size_t block = *flashPage_.block;
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(block + 43), 35, 0);
        std::copy(area.begin(), area.end(), bytes.begin() + static_cast<std::ptrdiff_t>(block + 43));
        ASSERT_TRUE(FW_Parse(flashPage_, bytes.data(), static_cast<std::int64_t>(bytes.size())));

        FlashPageFields texts = *UpdateTxt_FwFlash(flashPage_);
        texts.vid = "1A2B";
        ASSERT_TRUE(save(texts));
        EXPECT_EQ(flashPage_.blockByte(2), 0x1A);
        const auto stringArea = flashPage_.data.begin() + static_cast<std::ptrdiff_t>(block + 43);
        EXPECT_TRUE(
            std::equal(stringArea, stringArea + 35, bytes.begin() + static_cast<std::ptrdiff_t>(block + 43)));
    }
}

TEST_F(FlashPageSaveTest, NothingLoadedIsRefusedBeforeAnyStore) {
    FirmwareBuffer empty;
    EXPECT_FALSE(save_FwFlash(empty, fields("2FE3", "a", "b", "c"), reporter_, console_, printed_));
    EXPECT_EQ(reporter_.alerts, std::vector<std::string>{"No Flash Data"});
    EXPECT_TRUE(empty.data.empty());
}

TEST_F(FlashPageSaveTest, WritesTheWholeImageOrSaysItCouldNot) {
    const ScratchFolder scratch{"velmora-save-test"};
    const std::filesystem::path& folder = scratch.path();
    const std::string path = (folder / "saved.bin").string();

    ASSERT_TRUE(saveFinished_FwFlash(flashPage_, path, reporter_, console_));
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> saved{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
    EXPECT_EQ(saved, flashPage_.data);
    EXPECT_EQ(console_.lines().back(), path + "\n");

    EXPECT_FALSE(
        saveFinished_FwFlash(flashPage_, (folder / "missing" / "x.bin").string(), reporter_, console_));
    EXPECT_EQ(reporter_.alerts, std::vector<std::string>{"Save File Fail"});
}

}  // namespace
}  // namespace velmora::testing
