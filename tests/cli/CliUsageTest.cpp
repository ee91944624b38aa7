// The command line's answers to wrong words and unusable files: exit status 2 and
// one line on stderr that names the culprit, with nothing on stdout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"

namespace velmora::testing {
namespace {

class CliUsageTest : public CliFixture {};

TEST_F(CliUsageTest, HelpNamesEveryCommandAndScenario) {
    const CliRun run = runCli({"--help"});
    EXPECT_EQ(run.exitStatus, 0);
    for (const char* word :
         {"detect", "list", "update FILE", "scalar", "read OUT.bin", "erase", "image show", "image edit",
          "driver load", "--trace", "--json", "corrupt-readback", "never-returns"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    }
}

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string named;  // what the error line must mention
};

class CliBadUsageTest : public CliFixture, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CliBadUsageTest, ExitsTwoWithOneLineNamingTheProblem) {
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& argument : arguments) {
        if (argument.rfind("@", 0) == 0) argument = path(argument.substr(1));
    }
    write("empty.bin", {});
    write("short.bin", std::vector<char>(100, 'x'));
    write("nosignature.bin", std::vector<char>(4096, '\0'));
    const CliRun run = runCli(arguments);

    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
    const std::vector<std::string> errors = lines(run.err);
    ASSERT_EQ(errors.size(), 1u) << run.err;
    EXPECT_EQ(errors[0].rfind("velmora-cli: ", 0), 0u) << errors[0];
    std::string named = GetParam().named;
    if (named.rfind("@", 0) == 0) named = path(named.substr(1));
    EXPECT_NE(errors[0].find(named), std::string::npos) << errors[0];
}

INSTANTIATE_TEST_SUITE_P(
    WordsAndFiles, CliBadUsageTest,
    ::testing::Values(
        UsageCase{"NoCommand", {}, "no command"}, UsageCase{"UnknownCommand", {"flash"}, "'flash'"},
        UsageCase{"UpdateWithoutFile", {"update"}, "FILE"},
        UsageCase{"UpdateTwoFiles", {"update", "a.bin", "b.bin"}, "'b.bin'"},
        UsageCase{"MissingFile", {"update", "@missing.bin"}, "@missing.bin"},
        UsageCase{"Folder", {"update", "@"}, "Is a directory"},
        UsageCase{"EmptyFile", {"update", "@empty.bin"}, "@empty.bin"},
        UsageCase{"ShortFile", {"update", "@short.bin"}, "@short.bin"},
        UsageCase{"NoSignature", {"update", "@nosignature.bin"}, "Firmware format error"},
        UsageCase{"UnknownScenario", {"--simulate=meteor", "detect"}, "meteor"},
        UsageCase{"ConfigMissing", {"--config", "@none.ini", "detect"}, "@none.ini"},
        UsageCase{"ConfigWithoutValue", {"detect", "--config"}, "--config"},
        UsageCase{"JsonForRead", {"--json", "read", "@out.bin"}, "--json"},
        UsageCase{"ReadIntoMissingFolder", {"--simulate", "read", "@no/such/out.bin"}, "@no/such/out.bin"},
        UsageCase{"DetectWithArgument", {"detect", "now"}, "'now'"},
        UsageCase{"ShowUnknownOption", {"image", "show", "@short.bin", "--colour"}, "--colour"},
        UsageCase{"ShowUnknownPage", {"image", "show", "@nosignature.bin", "--page", "Audio"}, "Audio"},
        UsageCase{"EditWithoutOutput", {"image", "edit", "@short.bin"}, "-o OUT"},
        UsageCase{
            "SetWithoutDefinition", {"image", "edit", "@short.bin", "-o", "@o.bin", "--set", "A=1"}, "--ic"},
        UsageCase{"DriverWithoutAction", {"driver"}, "load or unload"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::testing
