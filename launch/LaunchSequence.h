#pragma once
// The core's part of the program's launch, shared by the window and the command
// line: what happens before a front end builds anything of its own. In order:
//   1. the system version (the running kernel's release) and the signature flag
//      (needSignDriver: the kernel loads only signed modules, so a driver load
//      may need a restart);
//   2. the console lines "Current System Version: %s", "AP Path :%s " and
//      "Resource Path :%s ";
//   3. the version as one line in the log file;
//   4. the boot-args snapshot in the private folder, when it is not there yet;
//   5. config.ini (initFromIni), with its own console lines.
// Everything it touches is handed in, so tests run it against a scratch folder.
//
// It is called from one place, HubEnvironment::launch (environment/), which both
// front ends go through: the window first thing, the command line for every
// command that touches a hub or the driver (not for image commands or --help):
//   const LaunchResult launched = runLaunchSequence(LaunchInputs(console, shell, configPath));
// (any other input is a member to set before the call).
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "app/Config.h"
#include "app/GeneralFunction.h"
#include "driver_install/CommandRunners.h"

namespace velmora {

class Console;

struct LaunchInputs {
    LaunchInputs(Console& console, driver::ShellRunner& shell, std::string configPath)
        : console(console), shell(shell), configPath(std::move(configPath)) {}

    Console& console;
    driver::ShellRunner& shell;  // runs the snapshot command (SystemShellRunner)
    std::string configPath;      // the config.ini to read: the resource folder's or one the user named
    // Shown on the console; the defaults are the running program's folder and its
    // resource folder (resourceFolder()).
    std::optional<std::string> programFolder;
    std::optional<std::string> resourcePath;
    // This user's own folder for the snapshot (privateRuntimeFolder() when not
    // given); when none can be had, the snapshot is skipped.
    std::optional<std::filesystem::path> privateFolder;
    std::string logPath = kLogFilePath;
    std::filesystem::path systemRoot = "/";  // where the signature check looks (tests: a fake /sys)
};

struct LaunchResult {
    std::string systemVersion;  // "6.1.0", as logged
    bool needSignDriver = false;
    AppConfig config;
    // Why the configuration could not be read (it then holds the defaults); empty
    // when it was read. A front end that was named the file treats it as an error.
    std::string configError;
    // The private folder used for the snapshot, for the driver actions and their
    // restart check (the snapshot lies at *privateFolder / kSnapshotFileName).
    std::optional<std::filesystem::path> privateFolder;
};

LaunchResult runLaunchSequence(const LaunchInputs& inputs);

}  // namespace velmora
