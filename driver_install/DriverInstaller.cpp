#include "driver_install/DriverInstaller.h"

#include <system_error>

#include "app/Console.h"
#include "driver_install/BootArgsSnapshot.h"
#include "driver_install/ShellEscape.h"
#include "driver_install/SignatureEnforcement.h"

namespace velmora::driver {
namespace {

void setButtons(const DriverActions& actions, bool enabled) {
    if (actions.SetButtonStatus) actions.SetButtonStatus(enabled);
}

std::string scriptPath(const DriverActions& actions, const char* script) {
    return actions.resourcePath + "/" + script;
}

// The copy of the bundle goes to the user's private folder, whose old copy is
// removed first (remove_all does not follow links). The load script does not
// use this copy: as root it builds only from the root-owned resource folder.
void copyBundle(const DriverActions& actions) {
    if (holdsControlCharacters(actions.resourcePath) ||
        holdsControlCharacters(actions.privateFolder.string())) {
        actions.console.line("Driver bundle not copied: its path holds control characters");
        return;
    }
    if (actions.privateFolder.empty()) {
        actions.console.line("Driver bundle not copied: no private folder");
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(actions.privateFolder / kBundleName, ignored);
    actions.shell.run(bundleCopyCommand(actions.resourcePath, actions.privateFolder));
}

}  // namespace

std::string bundleCopyCommand(const std::string& resourcePath, const std::filesystem::path& privateFolder) {
    return "cp -R " + ShellEscapePath(resourcePath) + "/" + kBundleName + " " +
           ShellEscapePath(privateFolder.string());
}

RestartCheck restartCheckFor(const std::filesystem::path& privateFolder) {
    return RestartCheck{moduleSignaturesEnforced(), privateFolder / kSnapshotFileName};
}

AfterLoad LoadUpdateDriver(const DriverActions& actions, const RestartCheck& check,
                           RestartQuestion& question) {
    actions.console.line("Enter LoadUpdateDriver");
    setButtons(actions, false);
    copyBundle(actions);
    actions.privileged.run(scriptPath(actions, kLoadScript));
    setButtons(actions, true);
    return RebootOrNot(actions, check, question);
}

AfterLoad RebootOrNot(const DriverActions& actions, const RestartCheck& check, RestartQuestion& question) {
    if (!check.needSignDriver) return AfterLoad::KeepRunning;
    if (!restartPromptNeeded(check.needSignDriver, readBootArgsSnapshot(check.snapshotPath),
                             check.settingInEffect)) {
        return AfterLoad::KeepRunning;
    }
    if (question.ask(kRestartPromptMessage) == RestartAnswer::RebootNow) {
        Reboot(actions);
        return AfterLoad::KeepRunning;  // until the system ends the program
    }
    actions.console.line(kUserAbortLine);
    return AfterLoad::QuitApplication;
}

void Reboot(const DriverActions& actions) {
    actions.privileged.run(scriptPath(actions, kRebootScript));
}

void UnloadUpdateDriver(const DriverActions& actions, HubReset& hub) {
    actions.console.line("Enter UnloadUpdateDriver");
    setButtons(actions, false);
    actions.privileged.run(scriptPath(actions, kUnloadScript));
    hub.resetToFlashCode();
    setButtons(actions, true);
}

}  // namespace velmora::driver
