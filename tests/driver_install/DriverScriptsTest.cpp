#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/Config.h"
#include "app/Console.h"
#include "app/TextAppend.h"
#include "driver_install/HubAccess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::driver {
namespace {

namespace fs = std::filesystem;

const fs::path kScripts = VELMORA_DRIVER_SCRIPTS;

struct CommandResult {
    int exitCode = -1;
    std::string output;
};

CommandResult runCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, got);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class ScriptFolder : public ::testing::Test {
protected:
    velmora::testing::ScratchFolder scratch_{"velmora-scripts-test"};
    fs::path folder_ = scratch_.path();
};

// The ids parameter the program's own reading of config.ini leads to.
std::string idsFromProgram(const fs::path& config) {
    SilentConsole console;
    const AppConfig read = initFromIni(config.string(), console);
    std::set<std::string> seen;
    std::string ids;
    for (const SupportedDevice& entry : read.table.entries()) {
        if (entry.valid == 0) continue;
        for (const std::uint16_t product : {entry.sspid, entry.hspid}) {
            char pair[16];
            std::snprintf(pair, sizeof pair, "%04x:%04x", entry.vid, product);
            if (!seen.insert(pair).second) continue;
            appendText(ids, {ids.empty() ? "" : ",", pair});
        }
    }
    return ids;
}

struct ConfigCase {
    const char* name;
    const char* text;
};

class BrennicIdsTest : public ScriptFolder, public ::testing::WithParamInterface<ConfigCase> {};

// The load script reads config.ini with a few lines of awk; it must pick out
// exactly the hubs the program itself supports, or the driver would hold hubs
// the program ignores, or miss the ones it drives.
TEST_P(BrennicIdsTest, ScriptAgreesWithTheProgram) {
    const fs::path config = folder_ / "config.ini";
    std::ofstream(config) << GetParam().text;
    const CommandResult script = runCommand(kScripts.string() + "/brennic-ids " + config.string());
    ASSERT_EQ(script.exitCode, 0) << script.output;
    std::string printed = script.output;
    if (!printed.empty() && printed.back() == '\n') printed.pop_back();
    EXPECT_EQ(printed, idsFromProgram(config));
}

INSTANTIATE_TEST_SUITE_P(
    Configs, BrennicIdsTest,
    ::testing::Values(
        ConfigCase{"OneHub",
                   "[Parvane Config]\nAppTitle=Zelo\n[Support Vid Pid]\nVID_00=0x0409\nSSPID_00=0x55AA\n"
                   "HSPID_00=0x55AB\n"},
        // Bases, signs, quotes, comments and case as iniparser reads them.
        ConfigCase{"NumberFormsQuotesCommentsAndCase",
                   "[support vid pid]\nvid_00 = 1033 ; decimal\nsspid_00 = 0777\nHSPID_00 = \"0x1234\"\n"
                   "Vid_01=0X2109\nSsPid_01=0x0817 # hub\nHsPid_01=-2\n"},
        // Entries with a zero, out of range, or only in other sections are not hubs.
        ConfigCase{"InvalidAndForeignEntries",
                   "[Support Vid Pid]\nVID_02=0x1\nSSPID_02=0\nHSPID_02=3\nVID_3F=0x10000\nSSPID_3F=1\n"
                   "HSPID_3F=2\nVID_40=1\nSSPID_40=2\nHSPID_40=3\nVID_3E=0x1A40\nSSPID_3E=0x0101\n"
                   "HSPID_3E=0x0101\n[Other]\nVID_05=1\nSSPID_05=2\nHSPID_05=3\n"},
        // Trailing junk after the number, the last of two equal keys, and values
        // that fit 16 bits only after truncation.
        ConfigCase{"JunkRepeatsAndTruncation",
                   "[Support Vid Pid]\nVID_0A=0x2109abc\nSSPID_0A=0x10\nSSPID_0A=0x11\nHSPID_0A=0x1FFFF\n"},
        // A line iniparser cannot read makes it refuse the whole file.
        ConfigCase{"UnreadableLine",
                   "[Support Vid Pid]\nVID_00=0x0409\nSSPID_00=0x55AA\nHSPID_00=0x55AB\nstray words\n"},
        ConfigCase{"EmptyFile", ""}),
    [](const ::testing::TestParamInfo<ConfigCase>& info) { return std::string(info.param.name); });

struct IdArgumentsCase {
    const char* name;
    std::vector<std::string> arguments;
};

// Names the case in test listings.
void PrintTo(const IdArgumentsCase& testCase, std::ostream* stream) {
    *stream << testCase.name;
}

class LoadIdArgumentsTest : public ScriptFolder, public ::testing::WithParamInterface<IdArgumentsCase> {};

std::string quoted(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += " '" + word + "'";
    return line;
}

// The hub IDs are the one thing root takes from the caller: anything but VID:PID
// pairs of hexadecimal digits is refused before the script does anything else.
TEST_P(LoadIdArgumentsTest, AnythingButHexadecimalPairsIsRefusedFirst) {
    fs::copy(kScripts / "load", folder_ / "load");
    const CommandResult load = runCommand((folder_ / "load").string() + quoted(GetParam().arguments));
    EXPECT_EQ(load.exitCode, 2) << load.output;
    EXPECT_NE(load.output.find("velmora driver load: "), std::string::npos) << load.output;
    EXPECT_EQ(load.output.find("must run as root"), std::string::npos) << load.output;
}

INSTANTIATE_TEST_SUITE_P(
    Refused, LoadIdArgumentsTest,
    ::testing::Values(IdArgumentsCase{"ShellWords", {"2FE3:0611;touch /tmp/velmora-owned"}},
                      IdArgumentsCase{"CommaList", {"2fe3:0611,2fe3:0610"}},
                      IdArgumentsCase{"NotHex", {"2FE3:06G1"}}, IdArgumentsCase{"TooShort", {"2FE3:611"}},
                      IdArgumentsCase{"Option", {"--ids=2fe3:0611"}},
                      IdArgumentsCase{"Newline", {"2FE3:0611\n2FE3:0610"}},
                      IdArgumentsCase{"OneBadAmongGood", {"2FE3:0611", "2FE3:0610", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScriptFolder, LoadTakesUpperAndLowerCaseHubIds) {
    fs::copy(kScripts / "load", folder_ / "load");
    const CommandResult load = runCommand((folder_ / "load").string() + " 2FE3:0611 2fe3:0610 1A2b:00c1");
    // Past the arguments it stops at the next check: not root, or (as root) this
    // copy's folder in /tmp, which others can change.
    EXPECT_EQ(load.exitCode, 1) << load.output;
    EXPECT_EQ(load.output.find("not a hub ID"), std::string::npos) << load.output;
}

TEST_F(ScriptFolder, UnloadTakesNoArguments) {
    fs::copy(kScripts / "unload", folder_ / "unload");
    const CommandResult unload = runCommand((folder_ / "unload").string() + " 2FE3:0611");
    EXPECT_EQ(unload.exitCode, 2) << unload.output;
}

TEST_F(ScriptFolder, LoadRefusesToRunFromAFolderOthersCanChange) {
    if (geteuid() != 0) GTEST_SKIP() << "the load script only goes this far as root";
    // A copy in /tmp, as a user could make one: /tmp is writable by everyone.
    for (const char* file : {"load", "brennic-ids"}) fs::copy(kScripts / file, folder_ / file);
    std::ofstream(folder_ / "config.ini") << "[Support Vid Pid]\nVID_00=1\nSSPID_00=2\nHSPID_00=3\n";
    fs::create_directory(folder_ / "Brennic.kext");
    const CommandResult load = runCommand((folder_ / "load").string());
    EXPECT_EQ(load.exitCode, 1);
    EXPECT_NE(load.output.find("can be changed by other users"), std::string::npos) << load.output;
}

TEST_F(ScriptFolder, LoadRefusesAResourceFolderReachedThroughAFolderOwnedByAnotherUser) {
    if (geteuid() != 0) GTEST_SKIP() << "the load script only goes this far as root";
    const fs::path resources = folder_ / "user-owned" / "velmora";
    fs::create_directories(resources / "Brennic.kext");
    chmod(folder_.c_str(), 0755);
    ASSERT_EQ(chown((folder_ / "user-owned").c_str(), 1000, 1000), 0);
    for (const char* file : {"load", "brennic-ids"}) fs::copy(kScripts / file, resources / file);
    std::ofstream(resources / "config.ini") << "[Support Vid Pid]\nVID_00=1\nSSPID_00=2\nHSPID_00=3\n";
    const CommandResult load = runCommand((resources / "load").string());
    EXPECT_EQ(load.exitCode, 1);
    EXPECT_NE(load.output.find("does not belong to root"), std::string::npos) << load.output;
}

// The load script uses the module DKMS built for the running kernel; a module
// elsewhere, or of another name, is not it.
TEST_F(ScriptFolder, TheDkmsModuleIsFoundWhereDkmsInstallsIt) {
    const fs::path modules = folder_ / "lib/modules/6.1.0-test-amd64";
    const std::string lookup = (kScripts / "brennic-dkms-module").string() + " " + modules.string();
    fs::create_directories(modules / "kernel/drivers/usb");
    std::ofstream(modules / "kernel/drivers/usb/brennic.ko") << "elsewhere";
    std::ofstream(modules / "brennic.ko") << "elsewhere";
    EXPECT_EQ(runCommand(lookup).exitCode, 1);

    fs::create_directories(modules / "updates/dkms");
    std::ofstream(modules / "updates/dkms/brennic.ko.xz") << "compressed";
    CommandResult found = runCommand(lookup);
    EXPECT_EQ(found.exitCode, 0);
    EXPECT_EQ(found.output, (modules / "updates/dkms/brennic.ko.xz").string() + "\n");

    // A path through links is given resolved: the load script refuses links.
    fs::create_directory_symlink(folder_ / "lib", folder_ / "linked");
    found = runCommand((kScripts / "brennic-dkms-module").string() + " " +
                       (folder_ / "linked/modules/6.1.0-test-amd64").string());
    EXPECT_EQ(found.output, (modules / "updates/dkms/brennic.ko.xz").string() + "\n");

    std::ofstream(modules / "updates/dkms/brennic.ko") << "plain";
    EXPECT_EQ(runCommand(lookup).output, (modules / "updates/dkms/brennic.ko").string() + "\n");
    EXPECT_EQ(runCommand((kScripts / "brennic-dkms-module").string()).exitCode, 2);
}

// doctor looks for the access rule where the scripts write and remove it.
TEST(DriverScripts, WriteAndRemoveTheRuleDoctorReads) {
    const std::string rule = std::string("readonly RULE_FILE=/") + kAccessRuleFile + "\n";
    for (const char* script : {"load", "unload"}) {
        std::ifstream file(kScripts / script);
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        EXPECT_NE(text.find(rule), std::string::npos) << script;
    }
}

}  // namespace
}  // namespace velmora::driver
