#include <gtest/gtest.h>

#include <string>

#include "driver_install/RestartPrompt.h"

namespace velmora::driver {
namespace {

struct MacCase {
    const char* name;
    const char* systemVersion;
    const char* snapshot;
    bool prompts;
};

class MacRestartDecision : public ::testing::TestWithParam<MacCase> {};

TEST_P(MacRestartDecision, OnlyTenTenWithoutDevModePrompts) {
    const MacCase& testCase = GetParam();
    EXPECT_EQ(restartPromptNeeded(needSignDriverForSystemVersion(testCase.systemVersion), testCase.snapshot,
                                  kKextDevModeSetting),
              testCase.prompts);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, MacRestartDecision,
    ::testing::Values(MacCase{"Mavericks_NoSnapshot", "10.9.5", "", false},
                      MacCase{"Mavericks_EmptyBootArgs", "10.9", "boot-args\t\n", false},
                      MacCase{"ElCapitan_NoSnapshot", "10.11.6", "", false},
                      MacCase{"ElCapitan_OtherBootArgs", "10.11", "boot-args\tdebug=0x144\n", false},
                      MacCase{"Yosemite_NoSnapshot", "10.10.5", "", true},
                      MacCase{"Yosemite_OtherBootArgs", "10.10", "boot-args\tdebug=0x144\n", true},
                      MacCase{"Yosemite_DevMode", "10.10.3", "boot-args\tkext-dev-mode=1\n", false},
                      MacCase{"Yosemite_DevModeAmongOthers", "10.10", "boot-args\tdebug=0x144 kext-dev-mode=1\n", false},
                      MacCase{"Yosemite_DevModeOff", "10.10", "boot-args\tkext-dev-mode=0\n", true}),
    [](const ::testing::TestParamInfo<MacCase>& info) { return std::string(info.param.name); });

TEST(LinuxRestartDecision, PromptsOnlyWhileTheSigningKeyIsNotEnrolled) {
    const std::string bootArgs = "boot-args\tBOOT_IMAGE=/vmlinuz root=/dev/sda1 ro quiet\n";
    EXPECT_FALSE(restartPromptNeeded(false, bootArgs));
    EXPECT_FALSE(restartPromptNeeded(false, ""));
    EXPECT_TRUE(restartPromptNeeded(true, bootArgs));
    EXPECT_TRUE(restartPromptNeeded(true, ""));
    EXPECT_FALSE(restartPromptNeeded(true, bootArgs + "brennic-signing-key=enrolled\n"));
}

}  // namespace
}  // namespace velmora::driver
