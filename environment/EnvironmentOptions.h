#pragma once
// Everything a front end decides about the core it runs on, in one place: which
// configuration, which bus, which clock, which history. The window and the
// command line fill it from their own options; later options join it here.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/GeneralFunction.h"
#include "backups/BackupStore.h"
#include "driver_install/CommandRunners.h"
#include "signing/SignatureVerdict.h"

namespace velmora::host {
class SignalDeferral;
}

namespace velmora {

// Set to "virtual" in the process environment, the simulated hub's resets and the
// program's waits take no real time. Set to "fd:N", the waits are served by the
// emulated-usbfs testbed over descriptor N, in the testbed's virtual time. For
// tests of the programs; neither has any effect on a real hub's timing.
inline constexpr const char* kSimulatedTimeVariable = "VELMORA_SIMULATED_TIME";
inline constexpr const char* kVirtualTime = "virtual";

// Which clock the waits run on. FromVariable: as kSimulatedTimeVariable says.
enum class ClockChoice { FromVariable, Virtual, Real };

// --record and --replay, the same for both front ends: the run's exchanges with
// the hubs written to a file as they happen, or the hubs served from such a file
// instead of any bus (docs/recording-format.md).
struct RecordingOptions {
    std::optional<std::string> recordPath;  // every exchange with the hubs goes there
    std::optional<std::string> replayPath;  // the hubs are served from that recording
    bool replayInRealTime = false;          // each exchange takes the time it took when recorded
    // What a recording's first line says of the run: the front end's name, every
    // word it was started with, and the files the command names (the SHA-256 of
    // each regular file among them, its images, goes in too).
    std::string programName;
    std::vector<std::string> commandLine;
    std::vector<std::string> namedFiles;
};

struct EnvironmentOptions {
    // A configuration named by the user: it must be a readable regular file that
    // defines a hub. None: the resource folder's, which may be missing.
    std::optional<std::string> configPath;
    // The config.ini read when none is named; empty: the resource folder's.
    std::string defaultConfigPath;
    bool simulate = false;
    std::string scenario;  // the simulated bus's set-up; empty: the default one
    ClockChoice clock = ClockChoice::FromVariable;
    // The history: the station's own file, or a postgresql:// URI of a line's
    // server (the rows then go to the user's default file first). None:
    // VELMORA_HISTORY, then config.ini's [History] Server, then the default file.
    std::optional<std::string> historyPath;
    bool keepHistory = true;  // false: runs are not recorded (the window's tests)
    // Where the default history file and backups folder lie; none: this user's
    // state folder ($XDG_STATE_HOME/velmora). Tests point it at a scratch folder.
    std::optional<std::string> stateFolder;
    // The station's name in every row (--station-name); empty: the host name.
    std::string stationName;
    RecordingOptions recording;
    // A backup of the flash before every erase. Off only when asked (--no-backup on
    // the command line). A replay reads the flash as the recorded run did but keeps
    // nothing, as nothing real is erased.
    bool keepBackups = true;
    // Where backups are kept; none: the user's default, made from nothing if need be.
    std::optional<std::string> backupsFolder;
    // Pruning keeps the backups of this many of the latest runs of the bus's origin.
    std::size_t backupRunsKept = backups::kDefaultBackupRunsKept;
    // Told, from whichever thread ran, when the history cannot be written.
    std::function<void(const std::string&)> onHistoryProblem;
    // The process's owner of its signals, when the front end made one: SIGINT,
    // SIGTERM and SIGHUP wait through it for the end of every hub's flash span.
    host::SignalDeferral* signalOwner = nullptr;
    // Told once, from whichever thread ran, when logind lets sleep and shutdown
    // only be delayed during a flash write, not blocked.
    std::function<void(const std::string&)> onHostNotice;
    // Whose signatures an image to be written must carry: the system's trusted
    // and revoked keys, a bench's --trusted-keys, --require-signed. The
    // configuration in use adds its [Images] RequireSigned at launch.
    signing::TrustSettings trust;
};

// What the launch sequence runs with; the defaults are the real system's. Tests
// point them at a scratch folder.
struct LaunchSettings {
    // Runs the snapshot command; none: the system shell.
    driver::ShellRunner* shell = nullptr;
    // Shown as "Resource Path"; none: the installed resource folder.
    std::optional<std::string> resourcePath;
    // This user's own folder (the boot-args snapshot); none: found as usual.
    std::optional<std::filesystem::path> privateFolder;
    std::string logPath = kLogFilePath;
    std::filesystem::path systemRoot = "/";
};

}  // namespace velmora
