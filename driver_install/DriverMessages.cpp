#include "driver_install/DriverMessages.h"

namespace velmora::driver {
namespace {

constexpr const char* kLoadAction = "Driver load";
constexpr const char* kUnloadAction = "Driver unload";
constexpr const char* kRebootAction = "Restart";

void addScriptLine(std::vector<std::string>& lines, const char* action, const std::string& scriptPath,
                   const ScriptResult& result) {
    const std::string head = std::string(action) + " failed: ";
    switch (result.outcome) {
        case ScriptOutcome::Succeeded: return;
        case ScriptOutcome::Failed:
            lines.push_back(head + scriptPath + " ended with exit status " +
                            std::to_string(result.exitStatus) +
                            " (its reason is in the system log: journalctl -t velmora-driver)");
            return;
        case ScriptOutcome::Refused:
            lines.push_back(head + "the administrator's authorisation was refused or dismissed");
            return;
        case ScriptOutcome::Missing:
            lines.push_back(head + scriptPath + " is missing; install Velmora with cmake --install");
            return;
        case ScriptOutcome::CannotStart:
            lines.push_back(head + scriptPath + " could not be started (" + result.reason + ")");
            return;
    }
}

std::string scriptPath(const std::string& resourcePath, const char* script) {
    return resourcePath + "/" + script;
}

}  // namespace

std::vector<std::string> loadOutcomeLines(const LoadOutcome& outcome, const std::string& resourcePath) {
    std::vector<std::string> lines;
    if (!outcome.hubsListed) {
        lines.push_back(std::string(kLoadAction) + " failed: the configuration lists no supported hub");
        return lines;
    }
    addScriptLine(lines, kLoadAction, scriptPath(resourcePath, kLoadScript), outcome.load);
    if (outcome.reboot) {
        addScriptLine(lines, kRebootAction, scriptPath(resourcePath, kRebootScript), *outcome.reboot);
    }
    return lines;
}

std::vector<std::string> unloadOutcomeLines(const UnloadOutcome& outcome, const std::string& resourcePath) {
    std::vector<std::string> lines;
    if (outcome.hub == HubResetOutcome::NotInFlashCode) {
        lines.emplace_back(
            "Zelo Hub did not come back in its flash code after its reset: unplug it and plug it in again");
    } else if (outcome.hub == HubResetOutcome::NotOpened) {
        lines.emplace_back("Zelo Hub could not be opened, so it was not reset into its flash code");
    }
    addScriptLine(lines, kUnloadAction, scriptPath(resourcePath, kUnloadScript), outcome.unload);
    return lines;
}

}  // namespace velmora::driver
