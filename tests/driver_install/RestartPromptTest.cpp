#include <gtest/gtest.h>

#include <string>

#include "driver_install/RestartPrompt.h"

namespace velmora::driver {
namespace {

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
