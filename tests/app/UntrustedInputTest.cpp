// Text and files from anywhere, as the support layer takes them: printed without
// terminal controls, opened without blocking, refused unless regular files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/Config.h"
#include "app/Console.h"
#include "app/GeneralFunction.h"
#include "app/IniFile.h"
#include "app/PrintableText.h"
#include "app/SafeFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora {
namespace {

using testing::runInChild;
using testing::ScratchFolder;

struct PrintCase {
    const char* name;
    std::string text;
    std::string shown;
};

class PrintableTextTest : public ::testing::TestWithParam<PrintCase> {};

TEST_P(PrintableTextTest, ControlsBecomeQuestionMarks) {
    EXPECT_EQ(printableText(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PrintableTextTest,
    ::testing::Values(PrintCase{"Plain", "Zelo Hub 1.0", "Zelo Hub 1.0"},
                      PrintCase{"Escape", "\x1b]0;owned\x07", "?]0;owned?"},
                      PrintCase{"Delete", "a\x7f", "a?"},
                      PrintCase{"EightBitCsi",
                                "\x9b"
                                "31m",
                                "?31m"},
                      PrintCase{"EightBitC1Range", "\x80\x9f", "??"},
                      PrintCase{"Utf8Csi",
                                "\xc2\x9b"
                                "31m",
                                "?31m"},
                      PrintCase{"Utf8NextLine", "a\xc2\x85z", "a?z"},
                      PrintCase{"Utf8TextStays", "caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
                      PrintCase{"NoBreakSpaceStays", "\xc2\xa0", "\xc2\xa0"},
                      PrintCase{"LatinOneByteStays", "\xe9", "\xe9"}, PrintCase{"LineBreak", "a\nb", "a?b"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PrintableTextLines, KeepsLineBreaksWhenAsked) {
    EXPECT_EQ(printableText("Update FW Fail\n\x1b[2J", true), "Update FW Fail\n?[2J");
}

class PlantedInputTest : public ::testing::Test {
protected:
    ScratchFolder scratch_{"velmora-input"};
};

// A FIFO at a configuration's path must neither block nor pass for a file.
TEST_F(PlantedInputTest, AFifoIsRefusedWithoutBlocking) {
    const std::string path = scratch_.path("config.ini");
    ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
    const testing::ChildEnd end = runInChild([&] {
        std::string error;
        const bool refused = openRegularFile(path, error) < 0 && error == "is a FIFO, not a regular file";
        const IniLoad load = loadIniFile(path);
        return refused && !load.dictionary && load.error == error ? 0 : 1;
    });
    EXPECT_EQ(end.exitStatus, 0) << "signal " << end.signal;
}

// The log and the boot-args snapshot lie in /tmp, where anyone may plant a FIFO.
TEST_F(PlantedInputTest, AFifoInTmpNeitherBlocksTheLogNorReadsAsText) {
    const std::string path = scratch_.path("Velmora.log");
    ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
    const testing::ChildEnd end = runInChild([&] {
        const bool logged = GeneralFunction::PrintNormalLog("6.1.0", path);
        return !logged && GeneralFunction::GetStringFromFile(path) == std::string() ? 0 : 1;
    });
    EXPECT_EQ(end.exitStatus, 0) << "signal " << end.signal;
}

TEST_F(PlantedInputTest, ADeviceOrFolderIsNotAFile) {
    std::string error;
    EXPECT_LT(openRegularFile("/dev/null", error), 0);
    EXPECT_EQ(error, "is a character device, not a regular file");
    EXPECT_LT(openRegularFile(scratch_.path().string(), error), 0);
    EXPECT_EQ(error, "Is a directory");
}

struct BrokenConfig {
    const char* name;
    std::string text;
    std::string reason;
};

class BrokenConfigTest : public PlantedInputTest, public ::testing::WithParamInterface<BrokenConfig> {};

// The reason comes back for the caller that must refuse the file; the defaults stay
// for the one that keeps going, with the reason on the console.
TEST_P(BrokenConfigTest, SaysWhyAndKeepsTheDefaults) {
    const std::string path = scratch_.write("broken.ini", {GetParam().text.begin(), GetParam().text.end()});
    RecordingConsole console;
    const ConfigLoad load = readConfigFile(path, console);
    std::string reason = GetParam().reason;
    reason.replace(reason.find('@'), 1, path);
    EXPECT_EQ(load.error, reason);
    EXPECT_EQ(load.config.appTitle, kDefaultAppTitle);
    EXPECT_EQ(load.config.table.firstValid(), nullptr);
    EXPECT_EQ(console.lines().front(),
              "config file not read, using the defaults: " + path + ": " + load.error);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenConfigTest,
    ::testing::Values(BrokenConfig{"UnterminatedSection", "[Support Vid Pid\nVID_00 = 0x2FE3\n",
                                   "syntax error in @ (1): [Support Vid Pid"},
                      BrokenConfig{"StrayByte", "[Support Vid Pid]\n\x01\n", "syntax error in @ (2): \x01"},
                      BrokenConfig{"LineOverTheLimit", "[a]\nx = " + std::string(2000, 'y') + "\n",
                                   "input line too long in @ (2)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora
