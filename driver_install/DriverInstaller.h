#pragma once
// Loading and unloading the update driver Brennic, and the restart that a
// Secure Boot machine needs before a freshly signed driver can load. The
// privileged work is done by the scripts load, unload and reboot of the installed
// resource folder; these operations run them, wait for them and hand their
// outcome back, which the front ends show in the words of DriverMessages.h.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver_install/CommandRunners.h"
#include "driver_install/RestartPrompt.h"

namespace velmora {
class Console;
class SupportedDeviceTable;
}  // namespace velmora

namespace velmora::driver {

inline constexpr const char* kBundleName = "Brennic.kext";  // the module's sources
inline constexpr const char* kLoadScript = "load";
inline constexpr const char* kUnloadScript = "unload";
inline constexpr const char* kRebootScript = "reboot";

// The folder the program was installed with (<prefix>/share/velmora), which the
// polkit policy names: the only place the driver scripts and the bundle are ever
// taken from. Never the folder of a configuration file the user named, never an
// environment override: root must not run a script an ordinary user can change.
std::string installedResourceFolder();

// The hubs of the configuration in use as the load script takes them: "VVVV:PPPP"
// in upper-case hexadecimal, the VID with the SSPID and with the HSPID of every
// valid entry, in table order, without repeats.
std::vector<std::string> driverHubIds(const SupportedDeviceTable& table);

// How the hub reset around an unload ended.
enum class HubResetOutcome {
    NoHub,           // no supported hub attached: nothing to reset
    NotOpened,       // a hub is attached but could not be opened; left as it is
    InFlashCode,     // reset, back and running its flash code
    NotInFlashCode,  // the reset or its wait failed, or the hub came back in its ROM code
};

// Puts the hub back into its flash code before the driver is unloaded.
class HubReset {
public:
    virtual ~HubReset() = default;
    virtual HubResetOutcome resetToFlashCode() = 0;
};

struct DriverActions {
    std::string resourcePath;             // installedResourceFolder(): the scripts and the bundle
    std::filesystem::path privateFolder;  // this user's own folder (privateRuntimeFolder())
    PrivilegedRunner& privileged;
    ShellRunner& shell;
    Console& console;
    std::function<void(bool enabled)> SetButtonStatus;  // may be empty (command line)
    std::vector<std::string> hubIds;                    // driverHubIds() of the configuration in use
};

struct RestartCheck {
    bool needSignDriver = false;  // moduleSignaturesEnforced() on Linux
    std::filesystem::path snapshotPath;
    std::string settingInEffect{kSigningKeyEnrolledSetting};
};

enum class AfterLoad { KeepRunning, QuitApplication };

struct LoadOutcome {
    bool hubsListed = true;  // false: the configuration lists no hub, and load was not run
    ScriptResult load;
    std::optional<ScriptResult> reboot;  // when the user chose "Reboot Now"
    AfterLoad after = AfterLoad::KeepRunning;

    bool succeeded() const { return hubsListed && load.succeeded() && (!reboot || reboot->succeeded()); }
};

struct UnloadOutcome {
    HubResetOutcome hub = HubResetOutcome::NoHub;
    ScriptResult unload;

    // A hub that could not be opened is not counted: nothing says it is not fine.
    bool succeeded() const { return unload.succeeded() && hub != HubResetOutcome::NotInFlashCode; }
};

// The command that copies the bundle into the private folder.
std::string bundleCopyCommand(const std::string& resourcePath, const std::filesystem::path& privateFolder);

// Copies the bundle, runs load with the hub IDs as its arguments (not at all when
// there are none: the driver would hold no hub), and then, when
// the script ran, asks for a restart if one is needed. after is QuitApplication
// when the user cancels the restart: the caller ends the program.
LoadOutcome LoadUpdateDriver(const DriverActions& actions, const RestartCheck& check,
                             RestartQuestion& question);
// Fills outcome.reboot and outcome.after.
void RebootOrNot(const DriverActions& actions, const RestartCheck& check, RestartQuestion& question,
                 LoadOutcome& outcome);
ScriptResult Reboot(const DriverActions& actions);
// Resets the hub into its flash code while the driver and its access rule still
// hold it (afterwards an ordinary user could no longer open the hub that comes
// back), then runs unload.
UnloadOutcome UnloadUpdateDriver(const DriverActions& actions, HubReset& hub);

}  // namespace velmora::driver
