#include "EditorTestSupport.h"
#include "app/Console.h"
#include "editor/DefinitionFile.h"

#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace velmora::editor;
using velmora::testing::ScratchFolder;

PropItemList readText(const ScratchFolder& folder, const std::string& text) {
    velmora::SilentConsole console;
    return readDefinitionFile(folder.writeText("chip.INI", text), console);
}

std::vector<int> keysOf(const PropItemList& items) {
    std::vector<int> keys;
    for (const auto& item : items) {
        keys.push_back(item->_key);
    }
    return keys;
}

TEST(DefinitionFile, ReadsIndexedSectionsInOrderWithGapsAndIgnoresFF) {
    ScratchFolder folder;
    const PropItemList items = readText(folder,
                                        "[HubFF_USB_FE]\nPropName = Last\n"
                                        "[HubFF_USB_05]\nPropName = Fifth\n"
                                        "[HubFF_USB_FF]\nPropName = Never\n"
                                        "[HubFF_USB_00]\nPropName = Heading\n"
                                        "[hubff_usb_0a]\npropname = Lower\npageName = System\n"
                                        "[HubFF_USB_06]\nPropDesp = no name\nPropAddr = 3\nPageName = SSC\n"
                                        "[HubFF_USB_07]\nPropName = \"\"\n"
                                        "[Other]\nPropName = Ignored\n");
    EXPECT_EQ(keysOf(items), (std::vector<int>{0, 5, 10, 254}));
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[2]->propName, "Lower");
    EXPECT_EQ(items[2]->property, "Lower");
    EXPECT_EQ(items[2]->pageName, "System");
}

TEST(DefinitionFile, ReadsEveryKey) {
    ScratchFolder folder;
    const PropItemList items =
        readText(folder,
                 "[HubFF_USB_01]\nPropName = Spread Spectrum\nPropDesp = \"Clock spread; "
                 "on or off\"\nPageName = SSC\nGroupName = Clock\nPropAddr = 20\n"
                 "PropMask = 12\nBaseOnAddr = 10\nBaseOnMask = 8\n");
    ASSERT_EQ(items.size(), 1u);
    const PropItem& item = *items[0];
    EXPECT_EQ(item.propDesc, "Clock spread; on or off");
    EXPECT_EQ(item.pageName, "SSC");
    EXPECT_EQ(item.groupName, "Clock");
    EXPECT_EQ(item._addr, 20u);
    EXPECT_EQ(item._mask, 12);
    EXPECT_EQ(item._baseOnAddr, 10u);
    EXPECT_EQ(item._baseOnMask, 8);
    EXPECT_TRUE(item.propList.empty());
    EXPECT_EQ(item.curValue, "Const Value");
}

struct OptionCase {
    const char* name;
    std::string keys;
    std::vector<std::string> meanings;
    std::vector<std::string> values;
    std::string curValue;
};

class DefinitionOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(DefinitionOptions, AreClosedUpInIndexOrder) {
    ScratchFolder folder;
    const PropItemList items = readText(folder, "[HubFF_USB_01]\nPropName = P\n" + GetParam().keys);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->propList, GetParam().meanings);
    EXPECT_EQ(items[0]->dataList, GetParam().values);
    EXPECT_EQ(items[0]->curValue, GetParam().curValue);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DefinitionOptions,
    ::testing::Values(
        OptionCase{
            "DefaultValues", "PropOption_00 = Off\nPropOption_01 = On\n", {"Off", "On"}, {"0", "1"}, "0"},
        OptionCase{
            "GapKeepsFileIndex", "PropOption_00 = A\nPropOption_03 = D\n", {"A", "D"}, {"0", "3"}, "0"},
        OptionCase{"ValueWithoutMeaningIgnored", "PropOption_00 = A\nDataOption_02 = 5\n", {"A"}, {"0"}, "0"},
        OptionCase{"ExplicitValues",
                   "PropOption_01 = Fast\nDataOption_01 = 7\nPropOption_0F = Slow\n",
                   {"Fast", "Slow"},
                   {"7", "15"},
                   "7"},
        OptionCase{"DecimalSuffixIsNotAnIndex",
                   "PropOption_10 = Never\nPropOption_0A = Ten\n",
                   {"Ten"},
                   {"10"},
                   "10"},
        OptionCase{"LowerCaseKeys", "propoption_00 = a\ndataoption_00 = x\n", {"a"}, {"x"}, "x"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DefinitionFile, DecimalNumbers) {
    const std::vector<std::pair<std::string, std::uint32_t>> cases = {
        {"42", 42}, {"   42", 42},      {"0x2A", 0}, {"0x1F", 0},       {"", 0},        {"12abc", 12},
        {"+7", 7},  {"-1", 0xFFFFFFFF}, {"abc", 0},  {"4294967296", 0}, {"\t 010", 10}, {"- 5", 0},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(readDecimal(text), value) << text;
    }
}

TEST(DefinitionFile, MaskKeepsLowEightBitsAndOutsideAddressesAreSkipped) {
    ScratchFolder folder;
    const PropItemList items =
        readText(folder,
                 "[HubFF_USB_01]\nPropName = Wide\nPropMask = 256\nPropAddr =   255\n"
                 "[HubFF_USB_02]\nPropName = Far\nPropAddr = 256\n"
                 "[HubFF_USB_03]\nPropName = FarBase\nBaseOnAddr = 300\nBaseOnMask = 1\n"
                 "[HubFF_USB_04]\nPropName = Negative\nPropAddr = -1\n"
                 "[HubFF_USB_05]\nPropName = Hex\nPropAddr = 0x2A\nPropMask = 257\n");
    EXPECT_EQ(keysOf(items), (std::vector<int>{1, 5}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->_mask, 0);
    EXPECT_EQ(items[0]->_addr, 255u);
    EXPECT_EQ(items[1]->_addr, 0u);
    EXPECT_EQ(items[1]->_mask, 1);
}

TEST(DefinitionFile, MissingOrRefusedFileGivesNoItems) {
    ScratchFolder folder;
    velmora::SilentConsole console;
    EXPECT_TRUE(readDefinitionFile((folder.path() / "missing.INI").string(), console).empty());
    EXPECT_TRUE(readText(folder, "[HubFF_USB_01]\nPropName = P\nstray words\n").empty());
}

// Definition files come from anywhere: the reason a file gave no items is kept, and
// a FIFO at the path is refused instead of blocking the editor.
TEST(DefinitionFile, RefusalsSayWhyAndAFifoNeverBlocks) {
    ScratchFolder folder;
    velmora::SilentConsole console;
    std::string error;
    const std::string broken = folder.writeText("broken.INI", std::string("[HubFF_USB_01\nPropName = P\n"));
    EXPECT_TRUE(readDefinitionFile(broken, console, &error).empty());
    EXPECT_EQ(error, "syntax error in " + broken + " (1): [HubFF_USB_01");

    const std::string fifo = (folder.path() / "fifo.INI").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const velmora::testing::ChildEnd end = velmora::testing::runInChild([&] {
        std::string reason;
        const bool empty = readDefinitionFile(fifo, console, &reason).empty();
        return empty && reason == "is a FIFO, not a regular file" ? 0 : 1;
    });
    EXPECT_EQ(end.exitStatus, 0) << "signal " << end.signal;
}

TEST(DefinitionFolder, ListsUpperCaseIniFilesBelowTheFolderInWalkOrder) {
    ScratchFolder folder;
    folder.writeText("b.INI", "");
    folder.writeText("a/z.INI", "");
    folder.writeText("a/deep/y.INI", "");
    folder.writeText("c.ini", "");
    folder.writeText("d.Ini", "");
    folder.writeText("e.INI.bak", "");
    folder.writeText("INI", "");
    std::filesystem::create_directories(folder.path() / "folder.INI");
    EXPECT_EQ(listDefinitionFiles(folder.path().string()),
              (std::vector<std::string>{"a/deep/y.INI", "a/z.INI", "b.INI"}));
    EXPECT_TRUE(listDefinitionFiles((folder.path() / "missing").string()).empty());
}

}  // namespace
