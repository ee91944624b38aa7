// The runners that start the driver scripts as root, with stand-in scripts and a
// stand-in pkexec: every way a run ends comes back to the caller.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "driver_install/CommandRunners.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::driver {
namespace {

namespace fs = std::filesystem;

class PrivilegedRunnerTest : public ::testing::Test {
protected:
    // An executable shell script of that name holding body.
    std::string script(const std::string& name, const std::string& body) {
        const std::string path = scratch_.path(name);
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        chmod(path.c_str(), 0755);
        return path;
    }
    std::string text(const std::string& name) {
        std::ifstream file(scratch_.path(name));
        std::ostringstream contents;
        contents << file.rdbuf();
        return contents.str();
    }
    // A script that writes its arguments, one a line, and exits with status.
    std::string recordingScript(int status) {
        return script("load", "for word in \"$@\"; do echo \"$word\"; done > " + scratch_.path("arguments") +
                                  "\nexit " + std::to_string(status));
    }

    testing::ScratchFolder scratch_{"velmora-runner"};
};

TEST_F(PrivilegedRunnerTest, DirectRunPassesTheArgumentsAndTheExitStatus) {
    DirectRunner runner;
    const std::string load = recordingScript(0);
    EXPECT_EQ(runner.run(load, {"2FE3:0611", "2FE3:0610"}).outcome, ScriptOutcome::Succeeded);
    EXPECT_EQ(text("arguments"), "2FE3:0611\n2FE3:0610\n");

    recordingScript(3);
    const ScriptResult failed = runner.run(load, {});
    EXPECT_EQ(failed.outcome, ScriptOutcome::Failed);
    EXPECT_EQ(failed.exitStatus, 3);
    EXPECT_TRUE(failed.ran());
}

// Root runs the script with nothing of the caller's environment but the terminal
// type: a variable such as BASH_ENV must not reach it.
TEST_F(PrivilegedRunnerTest, DirectRunGivesTheScriptACleanEnvironment) {
    const std::string load = script("load", "env > " + scratch_.path("environment"));
    setenv("VELMORA_CALLER_VARIABLE", "set", 1);
    EXPECT_TRUE(DirectRunner().run(load, {}).succeeded());
    unsetenv("VELMORA_CALLER_VARIABLE");
    const std::string environment = text("environment");
    EXPECT_EQ(environment.find("VELMORA_CALLER_VARIABLE"), std::string::npos) << environment;
    EXPECT_NE(environment.find("PATH=/usr/sbin:/usr/bin:/sbin:/bin\n"), std::string::npos) << environment;
}

TEST_F(PrivilegedRunnerTest, AMissingOrUnrunnableScriptIsReportedAsMissing) {
    DirectRunner direct;
    PkexecRunner pkexec(script("pkexec", "exec \"$@\""));
    EXPECT_EQ(direct.run(scratch_.path("none"), {}).outcome, ScriptOutcome::Missing);
    EXPECT_EQ(pkexec.run(scratch_.path("none"), {}).outcome, ScriptOutcome::Missing);
    const std::string notExecutable = script("unload", "exit 0");
    chmod(notExecutable.c_str(), 0644);
    EXPECT_EQ(direct.run(notExecutable, {}).outcome, ScriptOutcome::Missing);
    EXPECT_EQ(direct.run(scratch_.path().string(), {}).outcome, ScriptOutcome::Missing);  // a folder
}

struct PkexecCase {
    const char* name;
    const char* pkexecBody;
    ScriptOutcome outcome;
    int exitStatus;
};

// Names the case in test listings.
void PrintTo(const PkexecCase& testCase, std::ostream* stream) {
    *stream << testCase.name;
}

class PkexecOutcomeTest : public PrivilegedRunnerTest, public ::testing::WithParamInterface<PkexecCase> {};

// pkexec answers 126 when the user dismisses its question and 127 when the user
// is not authorised; otherwise the script's own status comes through.
TEST_P(PkexecOutcomeTest, EndsAsPkexecSays) {
    PkexecRunner runner(script("pkexec", GetParam().pkexecBody));
    const std::string load = recordingScript(2);
    const ScriptResult result = runner.run(load, {"2FE3:0611"});
    EXPECT_EQ(result.outcome, GetParam().outcome);
    EXPECT_EQ(result.exitStatus, GetParam().exitStatus);
}

INSTANTIATE_TEST_SUITE_P(Answers, PkexecOutcomeTest,
                         ::testing::Values(PkexecCase{"Dismissed", "exit 126", ScriptOutcome::Refused, 0},
                                           PkexecCase{"NotAuthorized", "exit 127", ScriptOutcome::Refused, 0},
                                           PkexecCase{"ScriptFails", "exec \"$@\"", ScriptOutcome::Failed, 2},
                                           PkexecCase{"KilledBySignal", "kill -TERM $$",
                                                      ScriptOutcome::Failed, 128 + 15}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrivilegedRunnerTest, PkexecGetsTheScriptAndItsArguments) {
    PkexecRunner runner(script("pkexec", "exec \"$@\""));
    EXPECT_TRUE(runner.run(recordingScript(0), {"2FE3:0611", "1A2B:00C1"}).succeeded());
    EXPECT_EQ(text("arguments"), "2FE3:0611\n1A2B:00C1\n");
}

TEST_F(PrivilegedRunnerTest, WithoutPkexecTheRunCannotStart) {
    PkexecRunner runner(scratch_.path("no-pkexec"));
    const ScriptResult result = runner.run(recordingScript(0), {});
    EXPECT_EQ(result.outcome, ScriptOutcome::CannotStart);
    EXPECT_EQ(result.reason, scratch_.path("no-pkexec") + " is missing");
    EXPECT_FALSE(fs::exists(scratch_.path("arguments")));
}

// Root needs no one's consent: the script runs itself, pkexec is never asked.
TEST_F(PrivilegedRunnerTest, RootRunsTheScriptItselfEveryoneElseThroughPkexec) {
    const std::string pkexec = script("pkexec", "touch " + scratch_.path("pkexec-asked") + "; exec \"$@\"");
    const std::string load = recordingScript(0);
    EXPECT_TRUE(privilegedRunnerFor(0, pkexec)->run(load, {}).succeeded());
    EXPECT_FALSE(fs::exists(scratch_.path("pkexec-asked")));
    EXPECT_TRUE(privilegedRunnerFor(1000, pkexec)->run(load, {}).succeeded());
    EXPECT_TRUE(fs::exists(scratch_.path("pkexec-asked")));
}

}  // namespace
}  // namespace velmora::driver
