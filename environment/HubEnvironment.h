#pragma once
// The one place the core is put together, for the window and the command line
// alike: the launch sequence and the configuration rule, the clock (real,
// virtual, or the testbed's), the platform (libusb or a simulated bus), the hub
// connection, the image admission; and what is kept, for every command, hub-less
// ones included: where the history, the backups and the serial numbers lie (the
// only place that asks for a default location), their one owner in the process
// (the station's file, the line's server), and whose runs they keep (a real
// hub's, or a bench's apart from it). Front ends hold one and differ only in how
// they present what it does.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/Console.h"
#include "app/OutputFiles.h"
#include "backups/BackupStore.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/UsbPlatform.h"
#include "environment/EnvironmentOptions.h"
#include "environment/HubRecovery.h"
#include "environment/RecordingHook.h"
#include "environment/WrittenBytes.h"
#include "history/HistoryLocation.h"
#include "history/HistoryStore.h"
#include "history/RunRecorder.h"
#include "history/StationFile.h"
#include "host/HostHold.h"
#include "workflows/ImageChecks.h"
#include "workflows/RunIds.h"
#include "workflows/RunOrigin.h"
#include "workflows/RunPlan.h"
#include "workflows/SerialNumberSource.h"

namespace velmora::sim {
class SimulatedEnvironment;
}

namespace velmora::history {
class PostgresHistory;
}

namespace velmora {

// Which hubs a command runs on: every supported hub attached, or the ports named.
struct HubChoice {
    bool all = false;
    std::vector<std::string> ports;  // in the order given, each once
    bool chosen() const { return all || !ports.empty(); }
};

// The hub a command that acts on one hub works on (scalar, restore, verify, read,
// and update or erase without --all): the port named, else the one supported hub
// attached. The bus's order never picks one of several: with several attached and
// none named, severalAttached lists their ports and the command is refused.
struct OneHubChoice {
    std::optional<std::string> port;           // none: no supported hub is listed now
    std::vector<std::string> severalAttached;  // non-empty: refuse, naming these ports
    bool refused() const { return !severalAttached.empty(); }
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
    // prepare, then only the configuration read (no launch, no bus): for the
    // commands that read what is kept and touch no hub (history, backups).
    static std::unique_ptr<HubEnvironment> openRecords(EnvironmentOptions options,
                                                       std::unique_ptr<Console> console, std::string& error);
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
    // What the runs are observed by: the history's recorder, or null when none
    // is kept (a replay). Observing changes nothing of what goes to the hub.
    RunObserver* runObserver() { return recorder_.get(); }
    // Where each run gets its one name; the first is the recording header's.
    RunIds& runIds() { return runIds_; }
    // Whose runs these are: a real hub's, or a bench's (the simulated bus, the
    // testbed's emulated one). What a bench's runs keep is kept apart by it.
    RunOrigin origin() const;

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
    // The backups of this environment's origin, for listing, restoring and
    // recovering (whether or not its runs keep any).
    backups::BackupStore& backupStore() { return *backupStore_; }

    // The production line's serial numbers, kept in the history this environment
    // records into, for its origin's hubs. Null, with error, when no history is
    // kept or it cannot be used: a number must never be given without the record
    // that keeps it single. When the history has a server, the numbers are the
    // server's, shared by the whole line; serverAway is set when it cannot be
    // reached, and the station must not start (numbers of its own could repeat
    // another station's). A replay's numbers are kept nowhere.
    std::unique_ptr<SerialNumberSource> openSerialNumbers(std::string& error, bool& serverAway);

    // Where the line has given serial already (a bench's update naming it): the
    // number as the station's file and, when one is named, the line's server
    // hold it, each with where it was found (the file's path, the server's
    // name). Empty when neither gave it, or neither can be read.
    struct GivenSerial {
        std::string where;
        std::string station;
        std::string state;
    };
    std::vector<GivenSerial> givenSerial(const std::string& serial);

    // Where the runs are recorded, as chosen for this command.
    history::HistoryTarget historyTarget() const;
    // The history the history commands read: the line's server when one is
    // named, else the station's file. Null with missing set (and no error) when
    // the file holds nothing yet; null with error when it cannot be used.
    history::HistoryStore* historyToRead(bool& missing, std::string& error);
    // What historyToRead reads, for messages: the file's path or the server's
    // URI without its password.
    std::string historyName() const;
    // Sends the station file's waiting rows to the line's server now (a bench's
    // too when this command's own --history named the server). The number
    // sent; nothing with error; noServer set when no server is named.
    std::optional<std::size_t> syncHistory(bool& noServer, std::string& error);
    // What counts the station file's rows waiting for the line's server, on a
    // connection of its own (for the station's figures); none when no server is
    // named. Call it from one thread at a time.
    std::function<std::optional<history::WaitingRows>()> waitingRowsCount();
    // Recovers the hub on context.connection from the history the runs went to
    // and this origin's backups (environment/HubRecovery.h).
    RecoveryResult recoverHub(const WorkflowContext& context, const std::string& port,
                              const RecoveryConsent& consent);
    // What a recovery of the hub on port would write back or reset, as restore
    // --last chooses too; nothing, with problem, when no history can be read.
    std::optional<Rollback> rollbackOn(const std::string& port, std::string& problem);

    // Every file no output of a run may be: the configuration, the scalar run's
    // image, the history and its SQLite companions, the backup store (a folder),
    // the recording replayed (the recording written is guarded by each plan).
    std::vector<GuardedPath> guardedFiles() const;
    // Where the backups lie, whether or not this run keeps any.
    std::string backupsFolder() const;

    // The one gate (environment/PlanAdmission.cpp): the plan of a command that
    // touches a hub or writes a file, admitted whole or refused with one reason,
    // before anything runs. Its image, when it writes one, is admitted here too.
    PlanVerdict admitPlan(const RunPlan& plan);

    // The folders the window lists chip definitions from: the shipped ones (the
    // resource folder) and this user's own (empty when no home can be told).
    std::string shippedDefinitionsFolder() const;
    std::string userDefinitionsFolder() const;

    // Whether the image at path may be used so, against this configuration's table;
    // an image to be written must also pass its signature (environment/SignatureRule.h),
    // judged from the bytes admitted, which are the bytes the run then writes.
    ImageAdmission admitImage(const std::string& path, ImageUse use, bool allowNewIds = false) const;
    // Whether bytes that came through no image file's admission (a backup written
    // back) may be written into a hub, against this configuration's table
    // (environment/WrittenBytes.h).
    BytesAdmission admitBytes(const BytesToWrite& request) const;
    // The ports a choice names: the ones given, or every supported hub's for all.
    std::vector<std::string> portsFor(const HubChoice& choice);
    // The port of every supported hub attached.
    std::vector<std::string> supportedPorts();
    // The one rule for a command that acts on one hub (OneHubChoice): named is its
    // --port, if any.
    OneHubChoice chooseOneHub(const std::optional<std::string>& named);
    // For when no supported hub is listed: the port of one that another run holds.
    // Its hub is off the bus for a moment, restarting under that run, so a run
    // started now is refused as busy, not told to plug a hub in.
    std::optional<HeldPortLock> hubHeldByAnotherRun();

private:
    HubEnvironment() = default;
    bool makeClock();
    bool makePlatform(std::string& error);
    void makeKeeping();
    void makeRecorder();
    bool attachRecording(std::string& error);
    bool benchRun() const;
    history::PostgresHistory* lineServer();
    bool serverIsStationsOwn() const;
    void makeHostHold();
    void withRecoverySources(const std::function<void(const RecoverySources&)>& use);

    EnvironmentOptions options_;
    std::unique_ptr<Console> console_;
    std::string configPath_;
    AppConfig config_;
    bool needSignDriver_ = false;
    std::optional<std::filesystem::path> privateFolder_;
    std::unique_ptr<Clock> clock_;
    VirtualClock* virtualClock_ = nullptr;
    bool testbed_ = false;  // the bus is the testbed's emulated one, in its time
    std::unique_ptr<sim::SimulatedEnvironment> simulation_;
    std::unique_ptr<UsbPlatform> realPlatform_;
    UsbPlatform* platform_ = nullptr;
    std::unique_ptr<RecordingHook> recording_;  // --record or --replay; after the platform it wraps
    std::unique_ptr<host::HostHold> hostHold_;  // outlives the connections that point to it
    std::unique_ptr<HubConnection> connection_;
    HubConnection::RequestObserver observer_;
    RunIds runIds_;
    // What is kept: made once the configuration is read, the server's owner
    // connected on its first use.
    std::string stateFolder_;
    std::unique_ptr<history::StationFileAccess> stationFile_;
    std::shared_ptr<history::PostgresHistory> lineServer_;
    std::unique_ptr<RunRecorder> recorder_;
    std::unique_ptr<backups::BackupStore> backupStore_;
    FlashBackups* backups_ = nullptr;  // backupStore_, or the replay's that keeps nothing
};

}  // namespace velmora
