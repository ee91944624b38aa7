#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/Console.h"
#include "app/SupportedDeviceTable.h"
#include "driver_install/DriverInstaller.h"
#include "driver_install/DriverMessages.h"
#include "driver_install/FlashCodeReset.h"
#include "tests/support/HubRig.h"
#include "tests/support/ScratchFolder.h"

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

// Records each run with its arguments; answers what the test set for that script
// and, when given, acts as the script would on the (simulated) system.
class RecordingPrivileged final : public PrivilegedRunner {
public:
    explicit RecordingPrivileged(Events& events) : events_(events) {}
    ScriptResult run(const std::string& scriptPath, const std::vector<std::string>& arguments) override {
        std::string event = "privileged: " + scriptPath;
        for (const std::string& argument : arguments) event += " " + argument;
        events_.push_back(event);
        const std::string script = std::filesystem::path(scriptPath).filename();
        if (effects.contains(script)) effects.at(script)();
        return results.contains(script) ? results.at(script) : ScriptResult{};
    }

    std::map<std::string, ScriptResult> results;
    std::map<std::string, std::function<void()>> effects;

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
    HubResetOutcome resetToFlashCode() override {
        events_.push_back("hub reset to flash code");
        return HubResetOutcome::InFlashCode;
    }

private:
    Events& events_;
};

class DriverActionsTest : public ::testing::Test {
protected:
    velmora::testing::ScratchFolder scratch_{"velmora-driver-test"};

    DriverActions actions(const std::string& resourcePath, std::vector<std::string> hubIds = {"2FE3:0611"}) {
        return DriverActions{resourcePath,
                             folder_,
                             privileged_,
                             shell_,
                             console_,
                             [this](bool enabled) { events_.push_back(enabled ? "buttons on" : "buttons off"); },
                             std::move(hubIds)};
    }

    RestartCheck check(bool needSignDriver, const std::string& snapshot) {
        const std::filesystem::path path = folder_ / "nvram_setting.dat";
        std::ofstream(path) << snapshot;
        return RestartCheck{needSignDriver, path};
    }

    std::filesystem::path folder_ = scratch_.path();
    Events events_;
    RecordingShell shell_{events_};
    RecordingPrivileged privileged_{events_};
    RecordingConsole console_;
};

TEST_F(DriverActionsTest, LoadCopiesWithEscapedPathAndStartsLoadUnescaped) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    const std::string resources = "/opt/Zelo Tools (v2)/share/velmora";
    EXPECT_EQ(LoadUpdateDriver(actions(resources), check(false, ""), question).after, AfterLoad::KeepRunning);
    EXPECT_EQ(
        events_,
        (Events{"buttons off",
                "shell: cp -R /opt/Zelo\\ Tools\\ \\(v2\\)/share/velmora/Brennic.kext " + folder_.string(),
                "privileged: /opt/Zelo Tools (v2)/share/velmora/load 2FE3:0611", "buttons on"}));
    EXPECT_EQ(console_.lines(), std::vector<std::string>{"Enter LoadUpdateDriver"});
}

TEST_F(DriverActionsTest, LoadNeverHandsAPathWithANewlineToTheShell) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    LoadUpdateDriver(actions("/opt/x\ntouch /tmp/owned"), check(false, ""), question);
    EXPECT_EQ(events_,
              (Events{"buttons off", "privileged: /opt/x\ntouch /tmp/owned/load 2FE3:0611", "buttons on"}));
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
    LoadOutcome outcome;
    RebootOrNot(actions("/r"), check(false, ""), question, outcome);
    EXPECT_EQ(outcome.after, AfterLoad::KeepRunning);
    EXPECT_TRUE(events_.empty());
}

TEST_F(DriverActionsTest, NoPromptOnceTheKeyIsEnrolled) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    const RestartCheck enrolled = check(true, "boot-args\tquiet\nbrennic-signing-key=enrolled\n");
    LoadOutcome outcome;
    RebootOrNot(actions("/r"), enrolled, question, outcome);
    EXPECT_EQ(outcome.after, AfterLoad::KeepRunning);
    EXPECT_TRUE(events_.empty());
}

TEST_F(DriverActionsTest, RebootNowRunsTheRebootScript) {
    ScriptedQuestion question(events_, RestartAnswer::RebootNow);
    LoadOutcome outcome;
    RebootOrNot(actions("/r s"), check(true, "boot-args\tquiet\n"), question, outcome);
    EXPECT_EQ(outcome.after, AfterLoad::KeepRunning);
    ASSERT_TRUE(outcome.reboot.has_value());
    EXPECT_TRUE(outcome.reboot->succeeded());
    EXPECT_EQ(events_, (Events{"ask: " + std::string(kRestartPromptMessage), "privileged: /r s/reboot"}));
    EXPECT_TRUE(console_.lines().empty());
}

TEST_F(DriverActionsTest, CancelQuitsAfterTheAbortLine) {
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    RestartCheck missingSnapshot{true, folder_ / "no-such-snapshot"};
    LoadOutcome outcome;
    RebootOrNot(actions("/r"), missingSnapshot, question, outcome);
    EXPECT_EQ(outcome.after, AfterLoad::QuitApplication);
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

// The configuration's hubs reach the root script as its arguments, and nothing
// else does.
TEST_F(DriverActionsTest, LoadHandsTheConfiguredHubIdsToTheScript) {
    SupportedDeviceTable table;
    table.set(0, 0x2FE3, 0x0611, 0x0610);
    table.set(3, 0x1a2b, 0x00c1, 0x0611);  // an HSPID equal to another entry's SSPID
    table.set(5, 0x2FE3, 0x0610, 0x0611);  // both pairs already listed
    const std::vector<std::string> ids = driverHubIds(table);
    EXPECT_EQ(ids, (std::vector<std::string>{"2FE3:0611", "2FE3:0610", "1A2B:00C1", "1A2B:0611"}));

    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    LoadUpdateDriver(actions("/usr/share/velmora", ids), check(false, ""), question);
    EXPECT_EQ(events_.at(2), "privileged: /usr/share/velmora/load 2FE3:0611 2FE3:0610 1A2B:00C1 1A2B:0611");
}

TEST_F(DriverActionsTest, AConfigurationWithoutHubsLoadsNothing) {
    ScriptedQuestion question(events_, RestartAnswer::RebootNow);
    const LoadOutcome outcome = LoadUpdateDriver(actions("/r", {}), check(true, ""), question);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(loadOutcomeLines(outcome, "/r"),
              std::vector<std::string>{"Driver load failed: the configuration lists no supported hub"});
}

struct ScriptResultCase {
    const char* name;
    ScriptResult result;
    bool scriptRan;
    std::string line;  // what the user is told; empty: nothing
};

// Names the case in test listings.
void PrintTo(const ScriptResultCase& testCase, std::ostream* stream) {
    *stream << testCase.name;
}

class LoadOutcomeTest : public DriverActionsTest, public ::testing::WithParamInterface<ScriptResultCase> {};

// Every way the load script can end reaches the caller: a refused password, a
// missing script and a failing script are failures with a line saying which.
// Only a script that ran can have queued a key, so only then is a restart asked.
TEST_P(LoadOutcomeTest, IsPassedOnAndWorded) {
    privileged_.results["load"] = GetParam().result;
    ScriptedQuestion question(events_, RestartAnswer::Cancel);
    const LoadOutcome outcome = LoadUpdateDriver(actions("/usr/share/velmora"), check(true, ""), question);
    EXPECT_EQ(outcome.succeeded(), GetParam().result.succeeded());
    const std::vector<std::string> lines = loadOutcomeLines(outcome, "/usr/share/velmora");
    if (GetParam().line.empty()) {
        EXPECT_TRUE(lines.empty());
    } else {
        EXPECT_EQ(lines, std::vector<std::string>{GetParam().line});
    }
    const bool asked =
        std::count(events_.begin(), events_.end(), "ask: " + std::string(kRestartPromptMessage));
    EXPECT_EQ(asked, GetParam().scriptRan);
    EXPECT_EQ(outcome.after, GetParam().scriptRan ? AfterLoad::QuitApplication : AfterLoad::KeepRunning);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LoadOutcomeTest,
    ::testing::Values(
        ScriptResultCase{"Succeeded", {ScriptOutcome::Succeeded, 0, ""}, true, ""},
        ScriptResultCase{"Failed",
                         {ScriptOutcome::Failed, 1, ""},
                         true,
                         "Driver load failed: /usr/share/velmora/load ended with exit status 1 (its reason "
                         "is in the system log: journalctl -t velmora-driver)"},
        ScriptResultCase{"Refused",
                         {ScriptOutcome::Refused, 0, ""},
                         false,
                         "Driver load failed: the administrator's authorisation was refused or dismissed"},
        ScriptResultCase{"Missing",
                         {ScriptOutcome::Missing, 0, ""},
                         false,
                         "Driver load failed: /usr/share/velmora/load is missing; install Velmora with cmake "
                         "--install"},
        ScriptResultCase{"CannotStart",
                         {ScriptOutcome::CannotStart, 0, "/usr/bin/pkexec is missing"},
                         false,
                         "Driver load failed: /usr/share/velmora/load could not be started (/usr/bin/pkexec "
                         "is missing)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverActionsTest, AFailedRestartIsReported) {
    privileged_.results["reboot"] = ScriptResult{ScriptOutcome::Refused, 0, ""};
    ScriptedQuestion question(events_, RestartAnswer::RebootNow);
    const LoadOutcome outcome = LoadUpdateDriver(actions("/r"), check(true, ""), question);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(loadOutcomeLines(outcome, "/r"),
              std::vector<std::string>{
                  "Restart failed: the administrator's authorisation was refused or dismissed"});
}

TEST_F(DriverActionsTest, UnloadResetsTheHubWhileTheDriverHoldsItThenStartsTheScript) {
    RecordingHubReset hub(events_);
    const UnloadOutcome outcome = UnloadUpdateDriver(actions("/usr/share/velmora"), hub);
    EXPECT_EQ(events_, (Events{"buttons off", "hub reset to flash code",
                               "privileged: /usr/share/velmora/unload", "buttons on"}));
    EXPECT_EQ(console_.lines(), std::vector<std::string>{"Enter UnloadUpdateDriver"});
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_TRUE(unloadOutcomeLines(outcome, "/usr/share/velmora").empty());
}

TEST_F(DriverActionsTest, AFailedUnloadScriptIsPassedOn) {
    privileged_.results["unload"] = ScriptResult{ScriptOutcome::Failed, 1, ""};
    RecordingHubReset hub(events_);
    const UnloadOutcome outcome = UnloadUpdateDriver(actions("/r"), hub);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(
        unloadOutcomeLines(outcome, "/r"),
        std::vector<std::string>{"Driver unload failed: /r/unload ended with exit status 1 (its reason is "
                                 "in the system log: journalctl -t velmora-driver)"});
}

// The unload with a simulated hub: once the script has run, the hub's ordinary
// driver holds it and an ordinary user can no longer open it, so the reset must
// come first.
class UnloadWithHubTest : public DriverActionsTest, public testing::HubRig {
protected:
    UnloadWithHubTest() {
        privileged_.effects["unload"] = [this] {
            sim::HubFaults faults = hub_.faults();
            faults.heldByAnotherDriver = true;
            hub_.setFaults(faults);
        };
        hub_.setRunState(sim::RunState::RomCode);  // as a failed update leaves it
    }
    sim::SimulatedHub& hub_ = addHub();
};

TEST_F(UnloadWithHubTest, AHubLeftInRomCodeEndsInItsFlashCode) {
    FlashCodeReset reset(connection);
    const UnloadOutcome outcome = UnloadUpdateDriver(actions("/r"), reset);
    EXPECT_EQ(outcome.hub, HubResetOutcome::InFlashCode);
    EXPECT_EQ(hub_.runState(), sim::RunState::FlashCode);
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_FALSE(connection.isOpen());
}

TEST_F(UnloadWithHubTest, AHubThatStaysInRomCodeIsToldAndTheDriverStillUnloaded) {
    sim::HubFaults faults;
    faults.returnsInWrongCode = true;
    hub_.setFaults(faults);
    FlashCodeReset reset(connection);
    const UnloadOutcome outcome = UnloadUpdateDriver(actions("/r"), reset);
    EXPECT_EQ(outcome.hub, HubResetOutcome::NotInFlashCode);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(events_.back(), "buttons on");
    EXPECT_EQ(events_.at(events_.size() - 2), "privileged: /r/unload");
    EXPECT_EQ(
        unloadOutcomeLines(outcome, "/r"),
        std::vector<std::string>{
            "Zelo Hub did not come back in its flash code after its reset: unplug it and plug it in again"});
}

TEST_F(UnloadWithHubTest, AHubThatCannotBeOpenedIsLeftAloneAndSaidSo) {
    sim::HubFaults faults;
    faults.heldByAnotherDriver = true;
    hub_.setFaults(faults);
    FlashCodeReset reset(connection);
    const UnloadOutcome outcome = UnloadUpdateDriver(actions("/r"), reset);
    EXPECT_EQ(outcome.hub, HubResetOutcome::NotOpened);
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_TRUE(hub_.requests().empty());
    EXPECT_EQ(
        unloadOutcomeLines(outcome, "/r"),
        std::vector<std::string>{"Zelo Hub could not be opened, so it was not reset into its flash code"});
}

}  // namespace
}  // namespace velmora::driver
