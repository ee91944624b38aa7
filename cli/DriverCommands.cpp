#include "cli/DriverCommands.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliText.h"
#include "cli/HubSession.h"
#include "driver_install/BootArgsSnapshot.h"
#include "driver_install/CommandRunners.h"
#include "driver_install/DriverInstaller.h"
#include "driver_install/DriverMessages.h"
#include "driver_install/FlashCodeReset.h"
#include "driver_install/RestartPrompt.h"

namespace velmora::cli {
namespace {

enum class RestartChoice { Ask, Reboot, NoReboot };

// The restart question on a terminal; a script says its answer with a flag, and
// without one the default button, "Cancel", is taken.
class TerminalRestartQuestion final : public driver::RestartQuestion {
public:
    TerminalRestartQuestion(const CommandContext& command, RestartChoice choice)
        : command_(command), choice_(choice) {}

    driver::RestartAnswer ask(std::string_view message) override {
        command_.streams.err << message << '\n';
        if (choice_ == RestartChoice::Reboot) return driver::RestartAnswer::RebootNow;
        if (choice_ == RestartChoice::NoReboot || ::isatty(STDIN_FILENO) != 1) {
            return driver::RestartAnswer::Cancel;
        }
        command_.streams.err << text::kRestartQuestion;
        command_.streams.err.flush();
        std::string answer;
        std::getline(std::cin, answer);
        return answer == "y" || answer == "Y" ? driver::RestartAnswer::RebootNow
                                              : driver::RestartAnswer::Cancel;
    }

private:
    const CommandContext& command_;
    RestartChoice choice_;
};

bool parseDriver(const CommandContext& command, std::string& action, RestartChoice& choice,
                 std::string& error) {
    if (command.arguments.empty()) {
        error = text::missingArgument("driver", "load or unload");
        return false;
    }
    action = command.arguments.front();
    if (action != "load" && action != "unload") {
        error = text::unexpectedArgument("driver", action);
        return false;
    }
    for (std::size_t index = 1; index < command.arguments.size(); ++index) {
        const std::string& word = command.arguments[index];
        if (action == "load" && word == "--reboot") {
            choice = RestartChoice::Reboot;
        } else if (action == "load" && word == "--no-reboot") {
            choice = RestartChoice::NoReboot;
        } else {
            error = word.rfind("-", 0) == 0 ? text::unknownOption("driver " + action, word)
                                            : text::unexpectedArgument("driver " + action, word);
            return false;
        }
    }
    return true;
}

// Each line of an outcome that went wrong, then the status to exit with.
ExitStatus reportOutcome(const CommandContext& command, const std::vector<std::string>& lines,
                         bool succeeded) {
    for (const std::string& line : lines) command.note(line);
    return succeeded ? ExitStatus::Success : ExitStatus::WorkflowFailed;
}

}  // namespace

ExitStatus runDriver(const CommandContext& command) {
    const std::unique_ptr<driver::PrivilegedRunner> privileged = driver::privilegedRunnerFor(::geteuid());
    driver::SystemShellRunner shell;
    return runDriverWith(command, DriverTools{*privileged, shell, driver::installedResourceFolder()});
}

ExitStatus runDriverWith(const CommandContext& command, const DriverTools& tools) {
    std::string action;
    RestartChoice choice = RestartChoice::Ask;
    std::string error;
    if (!parseDriver(command, action, choice, error)) return command.fail(ExitStatus::BadUsage, error);
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    if (!session->privateFolder()) return command.fail(ExitStatus::WorkflowFailed, text::kNoPrivateFolder);

    // The scripts and the bundle come from the installed folder whatever
    // configuration was named; only the hub IDs come from the configuration.
    const driver::DriverActions actions{tools.resourcePath,
                                        *session->privateFolder(),
                                        tools.privileged,
                                        tools.shell,
                                        session->console(),
                                        {},
                                        driver::driverHubIds(session->config().table)};
    if (action == "load") {
        TerminalRestartQuestion question(command, choice);
        const driver::RestartCheck check{session->needSignDriver(),
                                         *session->privateFolder() / driver::kSnapshotFileName};
        const driver::LoadOutcome outcome = driver::LoadUpdateDriver(actions, check, question);
        return reportOutcome(command, driver::loadOutcomeLines(outcome, tools.resourcePath),
                             outcome.succeeded());
    }
    driver::FlashCodeReset reset(session->connection());
    const driver::UnloadOutcome outcome = driver::UnloadUpdateDriver(actions, reset);
    return reportOutcome(command, driver::unloadOutcomeLines(outcome, tools.resourcePath),
                         outcome.succeeded());
}

}  // namespace velmora::cli
