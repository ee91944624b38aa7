#include "driver_install/DriverInstaller.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include "app/Console.h"
#include "app/Hex.h"
#include "app/ShellEscape.h"
#include "app/SupportedDeviceTable.h"
#include "driver_install/BootArgsSnapshot.h"
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

std::string installedResourceFolder() {
    return VELMORA_DRIVER_SCRIPT_DIR;
}

std::vector<std::string> driverHubIds(const SupportedDeviceTable& table) {
    std::vector<std::string> ids;
    for (const SupportedDevice& entry : table.entries()) {
        if (entry.valid == 0) continue;
        for (const std::uint16_t product : {entry.sspid, entry.hspid}) {
            std::string pair = hexIds(entry.vid, product);
            if (std::find(ids.begin(), ids.end(), pair) == ids.end()) ids.push_back(std::move(pair));
        }
    }
    return ids;
}

LoadOutcome LoadUpdateDriver(const DriverActions& actions, const RestartCheck& check,
                             RestartQuestion& question) {
    actions.console.line("Enter LoadUpdateDriver");
    LoadOutcome outcome;
    if (actions.hubIds.empty()) {
        outcome.hubsListed = false;
        return outcome;
    }
    setButtons(actions, false);
    copyBundle(actions);
    outcome.load = actions.privileged.run(scriptPath(actions, kLoadScript), actions.hubIds);
    setButtons(actions, true);
    // A load that never ran changed nothing a restart would complete. One that ran
    // and failed may have queued the signing key, which only a restart enrols.
    if (outcome.load.ran()) RebootOrNot(actions, check, question, outcome);
    return outcome;
}

void RebootOrNot(const DriverActions& actions, const RestartCheck& check, RestartQuestion& question,
                 LoadOutcome& outcome) {
    if (!check.needSignDriver) return;
    if (!restartPromptNeeded(check.needSignDriver, readBootArgsSnapshot(check.snapshotPath),
                             check.settingInEffect)) {
        return;
    }
    if (question.ask(kRestartPromptMessage) == RestartAnswer::RebootNow) {
        outcome.reboot = Reboot(actions);  // the program runs on until the system ends it
        return;
    }
    actions.console.line(kUserAbortLine);
    outcome.after = AfterLoad::QuitApplication;
}

ScriptResult Reboot(const DriverActions& actions) {
    return actions.privileged.run(scriptPath(actions, kRebootScript), {});
}

UnloadOutcome UnloadUpdateDriver(const DriverActions& actions, HubReset& hub) {
    actions.console.line("Enter UnloadUpdateDriver");
    setButtons(actions, false);
    UnloadOutcome outcome;
    outcome.hub = hub.resetToFlashCode();
    outcome.unload = actions.privileged.run(scriptPath(actions, kUnloadScript), {});
    setButtons(actions, true);
    return outcome;
}

}  // namespace velmora::driver
