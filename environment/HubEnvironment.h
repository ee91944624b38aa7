#pragma once
// The one place the core is put together, for the window and the command line
// alike: the launch sequence and the configuration rule, the clock (real,
// virtual, or the testbed's), the platform (libusb or a simulated bus), the hub
// connection, the run recorder and the image admission. Front ends hold one and
// differ only in how they present what it does.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/Console.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/UsbPlatform.h"
#include "environment/EnvironmentOptions.h"
#include "environment/RecordingHook.h"
#include "history/BackupStore.h"
#include "history/HistoryLocation.h"
#include "history/RunRecorder.h"
#include "host/HostHold.h"
#include "workflows/ImageChecks.h"
#include "workflows/SerialNumberSource.h"

namespace velmora::sim {
class SimulatedEnvironment;
}

namespace velmora {

// Which hubs a command runs on: every supported hub attached, or the ports named.
struct HubChoice {
    bool all = false;
    std::vector<std::string> ports;  // in the order given, each once
    bool chosen() const { return all || !ports.empty(); }
};

class HubEnvironment {
public:
    // What can be checked before anything runs: a named configuration must be a
    // readable regular file, a scenario must be known. Null, with error, otherwise.
    static std::unique_ptr<HubEnvironment> prepare(EnvironmentOptions options,
                                                   std::unique_ptr<Console> console, std::string& error);
    // prepare, then launch: the command line's way, for every hub command.
    static std::unique_ptr<HubEnvironment> open(EnvironmentOptions options, std::unique_ptr<Console> console,
                                                const LaunchSettings& settings, std::string& error);
    ~HubEnvironment();

    // Runs the launch sequence, holds a named configuration to its rule (read, and
    // defining a hub), then builds the rest on its table. False with error.
    bool launch(const LaunchSettings& settings, std::string& error);
    // Builds on a configuration read elsewhere, without the launch sequence (tests
    // and measurements). False with error when the scenario cannot be set up.
    bool useConfig(AppConfig config, std::string& error);

    Console& console() { return *console_; }
    const EnvironmentOptions& options() const { return options_; }
    // The config.ini read at launch, and its folder: FwBin is taken relative to it.
    const std::string& configPath() const { return configPath_; }
    std::string configFolder() const;
    const AppConfig& config() const { return config_; }
    // From the launch sequence: the signature flag and this user's private folder.
    bool needSignDriver() const { return needSignDriver_; }
    const std::optional<std::filesystem::path>& privateFolder() const { return privateFolder_; }

    Clock& clock() { return *clock_; }
    // The virtual clock when the waits run in virtual time, else null.
    VirtualClock* virtualClock() { return virtualClock_; }
    UsbPlatform& platform() { return *platform_; }
    // The simulated bus, or null on real hardware.
    sim::SimulatedEnvironment* simulation() { return simulation_.get(); }
    // The connection to the first supported hub, which the front end's runs share.
    HubConnection& connection() { return *connection_; }
    // A connection of its own to the hub on one port, observed like the main one.
    std::unique_ptr<HubConnection> connectionTo(const std::string& portPath);
    // What holds the host off a hub in its flash span (the logind lock, its
    // autosuspend, the stop signals); every connection made here runs on it.
    host::HostHold& hostHold() { return *hostHold_; }
    // Every request on every connection goes to observer (the command line's trace).
    void observeRequests(HubConnection::RequestObserver observer);
    // The history every hub run is recorded in, or null when none is kept. A
    // replay keeps none.
    RunRecorder* recorder() { return recorder_.get(); }
    // What the runs are observed by: the history's recorder; on a replay whose
    // front end keeps a history, one that asks the hub what the recorder would
    // and keeps nothing; null when no history is kept.
    RunObserver* runObserver();

    // True when the hubs are served from a recording (--replay). Such a run asks
    // the hubs what the recorded command asked (the flash reads of a backup too)
    // but records nowhere: no history row, no backup kept, nothing sent away.
    bool replays() const { return recording_ && recording_->replays(); }
    // The line a replay ends with once a request differed from the recording: the
    // front end shows it, and the run has failed whatever else it reported.
    std::optional<std::string> replayDivergence() const;
    // Why --record could not write the whole recording, once it could not.
    std::optional<std::string> recordingProblem() const;

    // Where the flash is kept before every erase, or null when no backups are made.
    // A replay's reads the flash as the recorded run did and keeps nothing.
    FlashBackups* backups() { return backups_; }

    // The production line's serial numbers, kept in the history this environment
    // records into. Null, with error, when no history is kept or it cannot be used:
    // a number must never be given without the record that keeps it single.
    // When the history has a server, the numbers are the server's, shared by the
    // whole line; serverAway is set when it cannot be reached, and the station
    // must not start (numbers of its own could repeat another station's).
    std::unique_ptr<SerialNumberSource> openSerialNumbers(std::string& error, bool& serverAway);

    // The files the run itself reads and writes: its configuration and its
    // history file. No output of a command may be one of them.
    std::vector<std::string> filesInUse() const;

    // Whether the image at path may be used so, against this configuration's table.
    ImageAdmission admitImage(const std::string& path, ImageUse use, bool allowNewIds = false) const;
    // The ports a choice names: the ones given, or every supported hub's for all.
    std::vector<std::string> portsFor(const HubChoice& choice);
    // The port of every supported hub attached.
    std::vector<std::string> supportedPorts();
    // For when no supported hub is listed: the port of one that another run holds.
    // Its hub is off the bus for a moment, restarting under that run, so a run
    // started now is refused as busy, not told to plug a hub in.
    std::optional<HeldPortLock> hubHeldByAnotherRun();

private:
    HubEnvironment() = default;
    bool makeClock();
    bool makePlatform(std::string& error);
    void makeRecorder();
    bool attachRecording(std::string& error);
    void makeHostHold();
    history::HistoryTarget historyTarget() const;

    EnvironmentOptions options_;
    std::unique_ptr<Console> console_;
    std::string configPath_;
    AppConfig config_;
    bool needSignDriver_ = false;
    std::optional<std::filesystem::path> privateFolder_;
    std::unique_ptr<Clock> clock_;
    VirtualClock* virtualClock_ = nullptr;
    bool replayed_ = false;  // the bus is the testbed's, played in its time
    std::unique_ptr<sim::SimulatedEnvironment> simulation_;
    std::unique_ptr<UsbPlatform> realPlatform_;
    UsbPlatform* platform_ = nullptr;
    std::unique_ptr<RecordingHook> recording_;  // --record or --replay; after the platform it wraps
    std::unique_ptr<host::HostHold> hostHold_;  // outlives the connections that point to it
    std::unique_ptr<HubConnection> connection_;
    HubConnection::RequestObserver observer_;
    std::unique_ptr<RunRecorder> recorder_;
    std::unique_ptr<history::BackupStore> backupStore_;
    FlashBackups* backups_ = nullptr;  // backupStore_, or the replay's that keeps nothing
};

}  // namespace velmora
