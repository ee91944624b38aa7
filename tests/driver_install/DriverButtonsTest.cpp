// The window's driver buttons: load (with and without the restart Secure Boot
// asks for), a refused load, the reboot, and the unload with its hub reset.
#include <QPushButton>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/gui/WindowFixture.h"

namespace velmora::testing {
namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

using DriverButtonsTest = WindowFixture;

TEST_F(DriverButtonsTest, LoadDriverRunsTheLoadScriptOffTheGuiThreadWithoutRestartPrompt) {
    launch();
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(privileged_.scripts.size(), 1u);
    EXPECT_EQ(privileged_.scripts[0], std::filesystem::absolute(resourcePath()).string() + "/load");
    EXPECT_TRUE(dialogs_.restartQuestions.empty());
    EXPECT_TRUE(quits_.empty());
    // The configuration's hubs are the script's arguments; a success needs no alert.
    EXPECT_NE(std::find(privileged_.lastArguments.begin(), privileged_.lastArguments.end(), "2FE3:0611"),
              privileged_.lastArguments.end());
    EXPECT_TRUE(dialogs_.alerts.empty());
}

TEST_F(DriverButtonsTest, RefusedDriverLoadIsToldInAnAlert) {
    launch();
    privileged_.answer.outcome = driver::ScriptOutcome::Refused;
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(dialogs_.alerts.size(), 1u);
    EXPECT_FALSE(dialogs_.alerts[0].empty());
}

TEST_F(DriverButtonsTest, LoadDriverUnderSecureBootAsksToRestartAndCancelQuits) {
    launch(WindowSetup().withScenario("flash-code").withSignaturesEnforced());
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(dialogs_.restartQuestions.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !quits_.empty(); }, kPatienceMs));
    EXPECT_EQ(quits_, std::vector<int>{0});
    EXPECT_TRUE(consoleHas("User abort start !!!"));
}

TEST_F(DriverButtonsTest, RebootNowRunsTheRebootScript) {
    launch(WindowSetup().withScenario("flash-code").withSignaturesEnforced());
    dialogs_.restartAnswer = driver::RestartAnswer::RebootNow;
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(privileged_.scripts.size(), 2u);
    EXPECT_TRUE(privileged_.scripts[1].ends_with("/reboot"));
    EXPECT_TRUE(quits_.empty());
}

TEST_F(DriverButtonsTest, UnloadDriverRunsTheScriptAndResetsTheHubIntoItsFlashCode) {
    launch(WindowSetup().withScenario("rom-code"));
    const std::string image = readText(sampleImagePath());
    hub().loadFlashImage(std::vector<std::uint8_t>(image.begin(), image.end()));
    hub().setRunState(sim::RunState::RomCode);
    window().helpBox().nsbtnUnloadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(privileged_.scripts.size(), 1u);
    EXPECT_TRUE(privileged_.scripts[0].ends_with("/unload"));
    EXPECT_EQ(hub().runState(), sim::RunState::FlashCode);
    EXPECT_FALSE(window().session().connection().isOpen());
}

}  // namespace
}  // namespace velmora::testing
