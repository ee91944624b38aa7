// velmora-testbed as the README runs it: the launcher and velmora-cli as two
// programs of their own, the launcher started without umockdev's preload as a
// user starts it. The command's waits pass in the launcher's virtual time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"

extern char** environ;

namespace velmora::usbfs::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRunBound = "60";  // seconds; a hung run fails instead of blocking the suite
constexpr std::uintmax_t kFlashBytes = 32768;
const std::string kSampleImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";

struct LaunchRun {
    int exitStatus = -1;
    std::string output;
};

class LauncherTest : public ::testing::Test {
protected:
    // velmora-testbed [launcherOptions] -- velmora-cli cliWords, with stdout and
    // stderr together.
    LaunchRun launch(std::vector<std::string> launcherOptions, const std::vector<std::string>& cliWords) {
        std::vector<std::string> command = {"/usr/bin/timeout", kRunBound, VELMORA_TESTBED_PROGRAM,
                                            "--virtual-time"};
        command.insert(command.end(), launcherOptions.begin(), launcherOptions.end());
        command.push_back("--");
        command.push_back(VELMORA_CLI_PROGRAM);
        command.insert(command.end(), cliWords.begin(), cliWords.end());
        std::vector<char*> arguments;
        for (std::string& word : command) arguments.push_back(word.data());
        arguments.push_back(nullptr);

        // This process's environment without a preload or a testbed of its own,
        // and with the launch's private folder in the scratch folder.
        std::vector<std::string> environment;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string entry = *variable;
            if (entry.starts_with("LD_PRELOAD=") || entry.starts_with("UMOCKDEV_") ||
                entry.starts_with("VELMORA_SIMULATED_TIME=") || entry.starts_with("XDG_RUNTIME_DIR=") ||
                entry.starts_with("XDG_STATE_HOME="))
                continue;
            environment.push_back(entry);
        }
        // The runs are recorded in the scratch folder, never in the user's own history.
        environment.push_back("XDG_RUNTIME_DIR=" + scratch_.path().string());
        environment.push_back("XDG_STATE_HOME=" + scratch_.path().string());
        std::vector<char*> variables;
        for (std::string& entry : environment) variables.push_back(entry.data());
        variables.push_back(nullptr);

        const std::string outputPath = scratch_.path("output.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t child = 0;
        LaunchRun run;
        const int error =
            posix_spawn(&child, arguments[0], &actions, nullptr, arguments.data(), variables.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            run.output = std::string("cannot start: ") + std::strerror(error);
            return run;
        }
        int status = 0;
        if (waitpid(child, &status, 0) != child) return run;
        std::ifstream output(outputPath);
        run.output.assign(std::istreambuf_iterator<char>(output), {});
        run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    velmora::testing::ScratchFolder scratch_{"velmora-launcher"};
};

TEST_F(LauncherTest, DetectFindsTheHub) {
    const LaunchRun run = launch({}, {"detect"});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("Detect Zelo Hub : Success"), std::string::npos) << run.output;
}

// The update resets the hub twice; each time the command must see it leave and
// come back as a new device, which takes the launcher's uevents.
TEST_F(LauncherTest, UpdateOfTheFlashCodeHubSucceeds) {
    const LaunchRun run = launch({}, {"update", kSampleImage});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("Update FW Success"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Fail To Open Rom Device"), std::string::npos) << run.output;
}

TEST_F(LauncherTest, ReadOfARomCodeHubSavesTheWholeFlash) {
    const std::string saved = scratch_.path("flash.bin");
    const LaunchRun run = launch({"--scenario", "rom-code"}, {"read", saved});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    ASSERT_TRUE(fs::exists(saved)) << run.output;
    EXPECT_EQ(fs::file_size(saved), kFlashBytes);
}

}  // namespace
}  // namespace velmora::usbfs::testing
