#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/Config.h"
#include "app/Console.h"
#include "tests/support/ScratchFolder.h"

namespace velmora {
namespace {

class ConfigTest : public ::testing::Test {
protected:
    std::filesystem::path writeConfig(const std::string& text) {
        std::ofstream(path_) << text;
        return path_;
    }
    AppConfig read(const std::string& text) { return initFromIni(writeConfig(text).string(), console_); }

    velmora::testing::ScratchFolder scratch_{"velmora-config"};
    std::filesystem::path path_ = scratch_ / "config.ini";
    RecordingConsole console_;
};

TEST_F(ConfigTest, MissingFileGivesDefaultsAndAnEmptyTable) {
    const AppConfig config = initFromIni("/nonexistent/velmora/config.ini", console_);
    EXPECT_EQ(config.appTitle, "Velmora");
    EXPECT_EQ(config.isScalarMode, 0);
    EXPECT_EQ(config.fwbinPath, "");
    EXPECT_EQ(config.table.firstValid(), nullptr);
    EXPECT_FALSE(config.table.IsSupportedHub(0, 0));
}

TEST_F(ConfigTest, ReadsTheThreeSettingsAndLogsThem) {
    const AppConfig config = read(
        "[Parvane Config]\nAppTitle = \"Line 3; Station\"\nScalarMode = 1\nFwBin = images/a.bin ; comment\n");
    EXPECT_EQ(config.appTitle, "Line 3; Station");
    EXPECT_TRUE(config.scalarLayout());
    EXPECT_EQ(config.fwbinPath, "images/a.bin");
    const auto lines = console_.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "App title: Line 3; Station");
    EXPECT_EQ(lines[1], "Fw Bin: images/a.bin");
    EXPECT_EQ(lines[2], "ScalarMode: 1");
}

TEST_F(ConfigTest, OnlyScalarModeOneSelectsTheScalarLayout) {
    EXPECT_FALSE(read("[Parvane Config]\nScalarMode = 2\n").scalarLayout());
    EXPECT_FALSE(read("[Parvane Config]\nScalarMode = 0\n").scalarLayout());
}

// A value that is neither yes nor no keeps the rule: a line that meant to require
// signed images must not lose it to a typo.
TEST_F(ConfigTest, RequireSignedIsOffOnlyWhenUnsetOrNo) {
    const std::pair<const char*, bool> cases[] = {
        {"", false},
        {"[Images]\nRequireSigned = 1\n", true},
        {"[images]\nrequiresigned = yes\n", true},
        {"[Images]\nRequireSigned = 0\n", false},
        {"[Images]\nRequireSigned = false\n", false},
        {"[Images]\nRequireSigned =\n", false},
        {"[Images]\nRequireSigned = on\n", true},
        {"[Parvane Config]\nRequireSigned = 1\n", false},
    };
    for (const auto& [text, required] : cases) EXPECT_EQ(read(text).requireSigned, required) << text;
}

TEST_F(ConfigTest, NumbersAreReadWithAutomaticBase) {
    const AppConfig config = read("[Support Vid Pid]\nVID_00 = 0x10\nSSPID_00 = 010\nHSPID_00 = 10\n");
    const SupportedDevice& entry = config.table.entry(0);
    EXPECT_EQ(entry.valid, 1);
    EXPECT_EQ(entry.vid, 16);
    EXPECT_EQ(entry.sspid, 8);
    EXPECT_EQ(entry.hspid, 10);
    EXPECT_EQ(console_.lines().front(), "vid:0x10   ;    sspid:0x8 ;    hspid:0xa \n");
}

TEST_F(ConfigTest, EntriesNeedAllThreeIdsAndKeepTheirIndex) {
    const AppConfig config = read(
        "[support vid pid]\n"
        "vid_0a = 0x1234\nsspid_0A = 0x1\nHSPID_0a = 0x2\n"    // names match without regard to case
        "VID_05 = 0x1111\nSSPID_05 = 0\nHSPID_05 = 0x3\n"      // a zero field leaves it empty
        "VID_06 = 0x1111\nHSPID_06 = 0x3\n"                    // a missing one too
        "VID_07 = 0x1111\nSSPID_07 = abc\nHSPID_07 = 0x3\n"    // and a non-numeric one
        "VID_08 = 0x10000\nSSPID_08 = 0x1\nHSPID_08 = 0x2\n"   // low 16 bits are zero
        "VID_09 = 0x12345\nSSPID_09 = 0x1\nHSPID_09 = 0x2\n"   // cut to its low 16 bits
        "VID_40 = 0x9999\nSSPID_40 = 0x1\nHSPID_40 = 0x2\n");  // past the last entry
    for (std::size_t index = 0; index < SupportedDeviceTable::kEntryCount; ++index) {
        const bool expected = index == 9 || index == 10;
        EXPECT_EQ(config.table.entry(index).valid == 1, expected) << "entry " << index;
    }
    EXPECT_EQ(config.table.entry(10).vid, 0x1234);
    EXPECT_EQ(config.table.entry(9).vid, 0x2345);
    EXPECT_FALSE(config.table.IsSupportedHub(0x9999, 0x1));
    EXPECT_EQ(config.table.firstValid(), &config.table.entry(9));
}

TEST(SupportedDeviceTableTest, MatchesEitherProductIdOfTheSameEntry) {
    SupportedDeviceTable table;
    table.set(3, 0x2FE3, 0x0611, 0x0610);
    table.set(7, 0x1111, 0x0001, 0x0002);
    EXPECT_TRUE(table.IsSupportedHub(0x2FE3, 0x0611));
    EXPECT_TRUE(table.IsSupportedHub(0x2FE3, 0x0610));
    EXPECT_TRUE(table.IsSupportedHub(0x1111, 0x0002));
    // VID of one entry with the PID of another is not a supported hub.
    EXPECT_FALSE(table.IsSupportedHub(0x2FE3, 0x0001));
    EXPECT_FALSE(table.IsSupportedHub(0x1111, 0x0611));
    table.clear();
    EXPECT_FALSE(table.IsSupportedHub(0x2FE3, 0x0611));
}

TEST(ShippedConfigTest, ShippedFileFillsTheTable) {
    RecordingConsole console;
    const AppConfig config = initFromIni(VELMORA_TEST_RESOURCES "/config.ini", console);
    EXPECT_EQ(config.appTitle, "Velmora");
    EXPECT_FALSE(config.scalarLayout());
    EXPECT_EQ(config.fwbinPath, "");
    ASSERT_NE(config.table.firstValid(), nullptr);
}

}  // namespace
}  // namespace velmora
