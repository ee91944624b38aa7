#pragma once
// What the window asks of the desktop around it: file panels, alerts, the restart
// question, privileged and shell runners, where its files lie and how the
// application ends. The program uses the real ones; tests hand in their own, so
// they can drive every button without a modal panel or a password prompt.
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/GeneralFunction.h"
#include "driver_install/CommandRunners.h"
#include "driver_install/DriverInstaller.h"
#include "driver_install/RestartPrompt.h"

class QWidget;

namespace velmora::window {

// What the user chose when the window was closed while an update wrote a hub's flash.
enum class CloseAnswer { KeepOpen, CloseWhenDone };
// What the user chose when the window was closed while the station's units ran.
enum class StationCloseAnswer { KeepOpen, CloseWhenDone, Abandon };

class WindowDialogs {
public:
    virtual ~WindowDialogs() = default;
    // A modal panel for one existing file; nothing when cancelled.
    virtual std::optional<QString> chooseOpenFile(QWidget* parent) = 0;
    // The save panel of the flash page; nothing when cancelled.
    virtual std::optional<QString> chooseSavePath(QWidget* parent) = 0;
    // One "OK" button, empty informative text; returns once closed.
    virtual void alert(QWidget* parent, const QString& text) = 0;
    // "Cancel" (the default) and "Reboot Now".
    virtual driver::RestartAnswer askRestart(QWidget* parent, const QString& message) = 0;
    // The window closed while an update writes a hub's flash: "Keep Open" (the
    // default) or "Close When Done".
    virtual CloseAnswer askCloseDuringFlash(QWidget* parent) = 0;
    // "Abandon the units in progress on PORTS?": true to abandon them.
    virtual bool confirmAbandon(QWidget* parent, const QString& ports) {
        (void)parent;
        (void)ports;
        return false;
    }
    // The window closed while the station's units run on ports: "Keep Open" (the
    // default), "Close When Done" (stop taking units, close once they finished) or "Abandon".
    virtual StationCloseAnswer askCloseStation(QWidget* parent, const QString& ports) {
        (void)parent;
        (void)ports;
        return StationCloseAnswer::KeepOpen;
    }
};

struct WindowEnvironment {
    WindowEnvironment(WindowDialogs& dialogs, driver::PrivilegedRunner& privileged,
                      driver::ShellRunner& shell)
        : dialogs(dialogs), privileged(privileged), shell(shell) {}

    WindowDialogs& dialogs;
    driver::PrivilegedRunner& privileged;
    driver::ShellRunner& shell;
    std::string logPath = kLogFilePath;
    // This user's private folder: the boot-args snapshot and the driver bundle's copy.
    // Nothing when it cannot be had; the snapshot and the driver load are then skipped.
    std::optional<std::filesystem::path> privateFolder;
    std::string desktopFolder;               // where "Get Log" puts its copy
    std::filesystem::path systemRoot = "/";  // where the signature check looks (tests: a fake /sys)
    // Where the driver scripts and bundle are run from: the installed resource folder,
    // whatever configuration was named (tests: their scratch folder).
    std::string driverResourcePath = driver::installedResourceFolder();
    // Ends the application with this status (after the current event).
    std::function<void(int status)> quit;
    // The station abandoned: ends the process with status once no hub is inside
    // its flash write, and lets none start one (the command line's second Ctrl-C).
    // None: quit once the writes are done.
    std::function<void(int status)> endAfterFlashWrites;
};

}  // namespace velmora::window
