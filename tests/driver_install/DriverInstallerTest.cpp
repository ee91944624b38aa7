#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Console.h"
#include "driver_install/DriverInstaller.h"

namespace velmora::driver {
namespace {

// Every outside effect lands in one list, so the tests see the order too.
using Events = std::vector<std::string>;

class RecordingShell final : public ShellRunner {
public:
    explicit RecordingShell(Events& events) : events_(events) {}
    void run(const std::string& command) override { events_.push_back("shell: " + command); }

private:
    Events& events_;
};

class RecordingPrivileged final : public PrivilegedRunner {
public:
    explicit RecordingPrivileged(Events& events) : events_(events) {}
    void run(const std::string& scriptPath) override { events_.push_back("privileged: " + scriptPath); }

private:
    Events& events_;
};

class ScriptedQuestion final : public RestartQuestion {
public:
    ScriptedQuestion(Events& events, RestartAnswer answer) : events_(events), answer_(answer) {}
    RestartAnswer ask(std::string_view message) override {
        events_.push_back("ask: " + std::string(message));
        return answer_;
    }

private:
    Events& events_;
    RestartAnswer answer_;
};

class RecordingHubReset final : public HubReset {
public:
    explicit RecordingHubReset(Events& events) : events_(events) {}
    void resetToFlashCode() override { events_.push_back("hub reset to flash code"); }

private:
    Events& events_;
};

class DriverActionsTest : public ::testing::Test {
protected:
    DriverActionsTest() {
        char pattern[] = "/tmp/velmora-driver-test-XXXXXX";
        folder_ = mkdtemp(pattern);
    }
    ~DriverActionsTest() override { std::filesystem::remove_all(folder_); }

    DriverActions actions(const std::string& resourcePath) {
        return DriverActions{resourcePath,
                             folder_,
                             privileged_,
                             shell_,
                             console_,
                             [this](bool enabled) { events_.push_back(enabled ? "buttons on" : "buttons off"); }};
    }

    RestartCheck check(bool needSignDriver, const std::string& snapshot) {
        const std::filesystem::path path = folder_ / "nvram_setting.dat";
        std::ofstream(path) << snapshot;
        return RestartCheck{needSignDriver, path};
    }

    std::filesystem::path folder_;
    Events events_;
    RecordingShell shell_{events_};
    RecordingPrivileged privileged_{events_};
    RecordingConsole console_;
};

TEST_F(DriverActionsTest, LoadCopiesWithEscapedPathAndStartsLoadUnescaped) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    const std::string resources = "/opt/Zelo Tools (v2)/share/velmora";
    EXPECT_EQ(LoadUpdateDriver(actions(resources), check(false, ""), question), AfterLoad::KeepRunning);
    EXPECT_EQ(events_, (Events{"buttons off",
                               "shell: cp -R /opt/Zelo\\ Tools\\ \\(v2\\)/share/velmora/Brennic.kext " +
                                   folder_.string(),
                               "privileged: /opt/Zelo Tools (v2)/share/velmora/load", "buttons on"}));
    EXPECT_EQ(console_.lines(), std::vector<std::string>{"Enter LoadUpdateDriver"});
}

TEST_F(DriverActionsTest, LoadNeverHandsAPathWithANewlineToTheShell) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    LoadUpdateDriver(actions("/opt/x\ntouch /tmp/owned"), check(false, ""), question);
    EXPECT_EQ(events_, (Events{"buttons off", "privileged: /opt/x\ntouch /tmp/owned/load", "buttons on"}));
}

TEST_F(DriverActionsTest, LoadReplacesAnEarlierCopyOfTheBundle) {
    std::filesystem::create_directory(folder_ / kBundleName);
    std::ofstream(folder_ / kBundleName / "stale.c") << "old";
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    LoadUpdateDriver(actions("/usr/share/velmora"), check(false, ""), question);
    EXPECT_FALSE(std::filesystem::exists(folder_ / kBundleName));
}

TEST_F(DriverActionsTest, NoPromptWithoutSignatureEnforcement) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    EXPECT_EQ(RebootOrNot(actions("/r"), check(false, ""), question), AfterLoad::KeepRunning);
    EXPECT_TRUE(events_.empty());
}

TEST_F(DriverActionsTest, NoPromptOnceTheKeyIsEnrolled) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    const RestartCheck enrolled = check(true, "boot-args\tquiet\nbrennic-signing-key=enrolled\n");
    EXPECT_EQ(RebootOrNot(actions("/r"), enrolled, question), AfterLoad::KeepRunning);
    EXPECT_TRUE(events_.empty());
}

TEST_F(DriverActionsTest, RebootNowRunsTheRebootScript) {
    ScriptedQuestion question(events_, RestartAnswer::RebootNow);
    EXPECT_EQ(RebootOrNot(actions("/r s"), check(true, "boot-args\tquiet\n"), question),
              AfterLoad::KeepRunning);
    EXPECT_EQ(events_, (Events{"ask: " + std::string(kRestartPromptMessage), "privileged: /r s/reboot"}));
    EXPECT_TRUE(console_.lines().empty());
}

TEST_F(DriverActionsTest, CancelQuitsAfterTheAbortLine) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    RestartCheck missingSnapshot{true, folder_ / "no-such-snapshot"};
    EXPECT_EQ(RebootOrNot(actions("/r"), missingSnapshot, question), AfterLoad::QuitApplication);
    EXPECT_EQ(events_, (Events{"ask: " + std::string(kRestartPromptMessage)}));
    EXPECT_EQ(console_.lines(), std::vector<std::string>{"User abort start !!!"});
}

TEST_F(DriverActionsTest, EveryLoadPromptsUntilTheRestart) {
    ScriptedQuestion question(events_, RestartAnswer::RebootNow);
    const RestartCheck pending = check(true, "boot-args\tquiet\n");
    LoadUpdateDriver(actions("/r"), pending, question);
    LoadUpdateDriver(actions("/r"), pending, question);
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "privileged: /r/reboot"), 2);
}

TEST_F(DriverActionsTest, UnloadStartsTheScriptThenResetsTheHub) {
    RecordingHubReset hub(events_);
    UnloadUpdateDriver(actions("/usr/share/velmora"), hub);
    EXPECT_EQ(events_, (Events{"buttons off", "privileged: /usr/share/velmora/unload",
                               "hub reset to flash code", "buttons on"}));
    EXPECT_EQ(console_.lines(), std::vector<std::string>{"Enter UnloadUpdateDriver"});
}

}  // namespace
}  // namespace velmora::driver
