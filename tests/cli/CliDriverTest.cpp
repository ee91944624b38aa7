// "driver load" and "driver unload" in this process, with the privileged runner
// handed in, so no test ever asks for a password or touches the real driver.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/DriverCommands.h"
#include "driver_install/DriverInstaller.h"
#include "tests/cli/CliFixture.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using cli::ExitStatus;

class RecordingRunner final : public driver::PrivilegedRunner {
public:
    driver::ScriptResult run(const std::string& scriptPath,
                             const std::vector<std::string>& arguments) override {
        std::string call = scriptPath;
        for (const std::string& argument : arguments) call += " " + argument;
        calls.push_back(call);
        return result;
    }
    std::vector<std::string> calls;
    driver::ScriptResult result;
};

class RecordingShell final : public driver::ShellRunner {
public:
    void run(const std::string& command) override { commands.push_back(command); }
    std::vector<std::string> commands;
};

class CliDriverTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        // The launch's snapshot goes to a private folder below this one, and the
        // simulated hub's resets take no real time.
        fs::create_directory(folder_ / "runtime");
        chmod((folder_ / "runtime").c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", path("runtime").c_str(), 1);
        setenv("VELMORA_SIMULATED_TIME", "virtual", 1);
    }

    ExitStatus driver(driver::PrivilegedRunner& privileged, const std::string& installed,
                      std::vector<std::string> arguments, const std::string& scenario = "no-hub") {
        cli::CliOptions options;
        options.configPath = config();
        options.simulate = true;
        options.scenario = scenario;
        out_.str("");
        err_.str("");
        const cli::TerminalStreams streams{out_, err_};
        const cli::CommandContext command{options, std::move(arguments), streams, buffers_};
        return cli::runDriverWith(command, cli::DriverTools{privileged, shell_, installed});
    }

    // An executable script that records its arguments in the file record.
    std::string script(const fs::path& folder, const std::string& name, const std::string& record) {
        fs::create_directories(folder);
        const fs::path file = folder / name;
        std::ofstream(file) << "#!/bin/sh\necho \"$@\" > " << (folder_ / record).string() << "\n";
        chmod(file.c_str(), 0755);
        return file.string();
    }

    std::vector<std::string> errorLines() const { return lines(err_.str()); }

    FirmwareBuffers buffers_;
    std::ostringstream out_;
    std::ostringstream err_;
    RecordingShell shell_;
    RecordingRunner recorder_;
};

// A configuration in the user's own folder, with a load script of the user's
// beside it, and the program run as root: the installed folder's script runs,
// with the configuration's hub IDs as its arguments; the user's never does.
TEST_F(CliDriverTest, ARootLoadNeverRunsAScriptBesideTheConfiguration) {
    script(folder_, "load", "user-script-ran");
    fs::create_directory(folder_ / "Brennic.kext");
    const fs::path installed = folder_ / "installed";
    script(installed, "load", "installed-script-ran");

    driver::DirectRunner asRoot;
    EXPECT_EQ(driver(asRoot, installed.string(), {"load", "--no-reboot"}), ExitStatus::Success) << err_.str();
    EXPECT_FALSE(fs::exists(folder_ / "user-script-ran"));
    std::ifstream record(folder_ / "installed-script-ran");
    std::string arguments;
    std::getline(record, arguments);
    EXPECT_EQ(arguments, "2FE3:0611 2FE3:0610");
    ASSERT_EQ(shell_.commands.size(), 1u);
    EXPECT_TRUE(shell_.commands[0].starts_with("cp -R " + installed.string() + "/Brennic.kext "))
        << shell_.commands[0];
}

TEST_F(CliDriverTest, TheCommandLineTakesTheScriptsFromTheInstalledFolder) {
    setenv("VELMORA_RESOURCES", folder_.c_str(), 1);
    const std::string installed = driver::installedResourceFolder();
    unsetenv("VELMORA_RESOURCES");
    EXPECT_TRUE(fs::path(installed).is_absolute());
    EXPECT_NE(installed, folder_.string());
    EXPECT_EQ(driver::installedResourceFolder(), installed);
}

struct OutcomeCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string scenario;
    driver::ScriptResult result;
    ExitStatus status;
    std::string lastLine;  // empty: nothing on stderr
};

// Names the case in test listings.
void PrintTo(const OutcomeCase& testCase, std::ostream* stream) {
    *stream << testCase.name;
}

class DriverOutcomeTest : public CliDriverTest, public ::testing::WithParamInterface<OutcomeCase> {};

// A refused password, a missing or failing script, a hub left out of its flash
// code: exit status 1 and a line saying what failed.
TEST_P(DriverOutcomeTest, ExitsWithTheOutcomeAndSaysWhatFailed) {
    recorder_.result = GetParam().result;
    const ExitStatus status = driver(recorder_, "/opt/velmora", GetParam().arguments, GetParam().scenario);
    EXPECT_EQ(status, GetParam().status);
    const std::vector<std::string> written = errorLines();
    if (GetParam().lastLine.empty()) {
        EXPECT_TRUE(written.empty()) << err_.str();
    } else {
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(written.back(), GetParam().lastLine);
    }
}

// The cases are built in a function rather than as temporaries in the
// instantiation: GCC 12 at -O3 wrongly warns that the temporaries' strings may be
// used uninitialised.
driver::ScriptResult ended(driver::ScriptOutcome outcome, int exitStatus) {
    driver::ScriptResult result;
    result.outcome = outcome;
    result.exitStatus = exitStatus;
    return result;
}

std::vector<OutcomeCase> outcomeCases() {
    const driver::ScriptResult succeeded{};
    return {
        {"LoadSucceeds", {"load", "--no-reboot"}, "no-hub", succeeded, ExitStatus::Success, ""},
        {"LoadRefused",
         {"load", "--no-reboot"},
         "no-hub",
         ended(driver::ScriptOutcome::Refused, 0),
         ExitStatus::WorkflowFailed,
         "velmora-cli: Driver load failed: the administrator's authorisation was refused or dismissed"},
        {"UnloadSucceedsWithTheHubInItsFlashCode",
         {"unload"},
         "flash-code",
         succeeded,
         ExitStatus::Success,
         ""},
        {"UnloadScriptFails",
         {"unload"},
         "no-hub",
         ended(driver::ScriptOutcome::Failed, 1),
         ExitStatus::WorkflowFailed,
         "velmora-cli: Driver unload failed: /opt/velmora/unload ended with exit status 1 (its reason "
         "is in the system log: journalctl -t velmora-driver)"},
        {"UnloadLeavesTheHubOffItsFlashCode",
         {"unload"},
         "never-returns",
         succeeded,
         ExitStatus::WorkflowFailed,
         "velmora-cli: Zelo Hub did not come back in its flash code after its reset: unplug it and "
         "plug it in again"},
    };
}

INSTANTIATE_TEST_SUITE_P(Outcomes, DriverOutcomeTest, ::testing::ValuesIn(outcomeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::testing
