#pragma once
// Loading and unloading the update driver Brennic, and the restart that a
// Secure Boot machine needs before a freshly signed driver can load. The
// privileged work is done by the scripts load, unload and reboot in the resource
// folder; these operations start them and do not wait for them or judge them.
#include <filesystem>
#include <functional>
#include <string>

#include "driver_install/CommandRunners.h"
#include "driver_install/RestartPrompt.h"

namespace velmora {
class Console;
}

namespace velmora::driver {

inline constexpr const char* kBundleName = "Brennic.kext";  // the module's sources
inline constexpr const char* kLoadScript = "load";
inline constexpr const char* kUnloadScript = "unload";
inline constexpr const char* kRebootScript = "reboot";

// Puts the hub back into its flash code after the driver has been unloaded.
class HubReset {
public:
    virtual ~HubReset() = default;
    virtual void resetToFlashCode() = 0;
};

struct DriverActions {
    std::string resourcePath;             // absolute; holds the scripts and the bundle
    std::filesystem::path privateFolder;  // this user's own folder (privateRuntimeFolder())
    PrivilegedRunner& privileged;
    ShellRunner& shell;
    Console& console;
    std::function<void(bool enabled)> SetButtonStatus;  // may be empty (command line)
};

struct RestartCheck {
    bool needSignDriver = false;  // moduleSignaturesEnforced() on Linux
    std::filesystem::path snapshotPath;
    std::string settingInEffect{kSigningKeyEnrolledSetting};
};

// The check for this machine: signatures enforced by the running kernel, and the
// snapshot kept in the user's private folder.
RestartCheck restartCheckFor(const std::filesystem::path& privateFolder);

enum class AfterLoad { KeepRunning, QuitApplication };

// The command that copies the bundle into the private folder.
std::string bundleCopyCommand(const std::string& resourcePath, const std::filesystem::path& privateFolder);

// Copies the bundle, starts load, and then asks for a restart when one is needed.
// QuitApplication when the user cancels the restart: the caller ends the program.
AfterLoad LoadUpdateDriver(const DriverActions& actions, const RestartCheck& check,
                           RestartQuestion& question);
AfterLoad RebootOrNot(const DriverActions& actions, const RestartCheck& check, RestartQuestion& question);
void Reboot(const DriverActions& actions);
// Starts unload, then resets the hub into its flash code; a hub that cannot be
// opened or does not come back is left alone without a word.
void UnloadUpdateDriver(const DriverActions& actions, HubReset& hub);

}  // namespace velmora::driver
