// The launch sequence as the command line runs it: every command that touches a
// hub or the driver runs it first; image commands and --help leave the system
// alone (no snapshot, no log line).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

class CliLaunchTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        fs::create_directory(folder_ / "runtime");
        chmod((folder_ / "runtime").c_str(), 0700);
    }
    CliRun run(std::vector<std::string> arguments) {
        return runCli(arguments, {"XDG_RUNTIME_DIR=" + path("runtime")});
    }
    bool snapshotTaken() const { return fs::exists(folder_ / "runtime" / "velmora" / "nvram_setting.dat"); }
};

TEST_F(CliLaunchTest, AHubCommandTakesTheBootArgsSnapshotBeforeReadingTheConfiguration) {
    const CliRun detect = run({"--config", config(), "--simulate", "--verbose", "detect"});
    ASSERT_EQ(detect.exitStatus, 0) << detect.err;
    EXPECT_TRUE(snapshotTaken());
    const std::vector<std::string> console = lines(detect.err);
    ASSERT_GE(console.size(), 4u) << detect.err;
    EXPECT_TRUE(console[0].starts_with("Current System Version: ")) << console[0];
    EXPECT_TRUE(console[1].starts_with("AP Path :")) << console[1];
    EXPECT_TRUE(console[2].starts_with("Resource Path :")) << console[2];
    EXPECT_EQ(console[3], "vid:0x2fe3   ;    sspid:0x611 ;    hspid:0x610 ");
}

struct QuietCase {
    const char* name;
    std::vector<std::string> arguments;
};

// Names the case in test listings.
void PrintTo(const QuietCase& testCase, std::ostream* stream) {
    *stream << testCase.name;
}

class CliQuietLaunchTest : public CliLaunchTest, public ::testing::WithParamInterface<QuietCase> {};

TEST_P(CliQuietLaunchTest, ACommandWithoutHubOrDriverTouchesNoSystemState) {
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& word : arguments) {
        if (word == "IMAGE") word = kSampleImage;
        if (word == "OUT") word = path("out.bin");
    }
    const CliRun quiet = run(arguments);
    EXPECT_EQ(quiet.exitStatus, 0) << quiet.err;
    EXPECT_FALSE(fs::exists(folder_ / "runtime" / "velmora"));
    EXPECT_EQ(quiet.err.find("Current System Version"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Commands, CliQuietLaunchTest,
                         ::testing::Values(QuietCase{"Help", {"--verbose", "--help"}},
                                           QuietCase{"ImageShow", {"--verbose", "image", "show", "IMAGE"}},
                                           QuietCase{"ImageEdit",
                                                     {"--verbose", "image", "edit", "IMAGE", "-o", "OUT",
                                                      "--serial", "SN1"}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::testing
