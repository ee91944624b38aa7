#include "environment/HubEnvironment.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "app/AppPaths.h"
#include "app/SafeFile.h"
#include "app/TextFormat.h"
#include "device/LibusbPlatform.h"
#include "device/RemoteClock.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "environment/EnvironmentMessages.h"
#include "environment/SignatureRule.h"
#include "history/HistoryLocation.h"
#include "history/HistorySender.h"
#include "history/SerialCounter.h"
#include "history/SerialMarks.h"
#include "history/server/PostgresHistory.h"
#include "history/server/PostgresSerialCounter.h"
#include "launch/LaunchSequence.h"
#include "production/HubFleet.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

std::string scenarioOf(const EnvironmentOptions& options) {
    return options.scenario.empty() ? std::string(sim::kDefaultSimulationScenario) : options.scenario;
}

// The testbed's descriptor when kSimulatedTimeVariable hands one over.
std::optional<int> testbedClockDescriptor(const char* value) {
    const std::size_t prefix = std::strlen(kRemoteClockPrefix);
    if (value == nullptr || std::strncmp(value, kRemoteClockPrefix, prefix) != 0) return std::nullopt;
    char* end = nullptr;
    const long descriptor = std::strtol(value + prefix, &end, 10);
    if (end == value + prefix || *end != '\0' || descriptor <= STDERR_FILENO || descriptor >= INT_MAX)
        return std::nullopt;
    return static_cast<int>(descriptor);
}

// A named file must be read and name a hub: a broken one must not pass for a
// missing hub. The resource folder's may be missing or broken, and then every key
// takes its default.
bool namedConfigUsable(const std::string& path, const std::string& loadError, const AppConfig& config,
                       std::string& error) {
    if (!loadError.empty()) {
        error = messages::unusableConfig(path, loadError);
        return false;
    }
    if (config.table.firstValid() == nullptr) {
        error = messages::unusableConfig(path, messages::kConfigWithoutHub);
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<HubEnvironment> HubEnvironment::prepare(EnvironmentOptions options,
                                                        std::unique_ptr<Console> console,
                                                        std::string& error) {
    if (options.simulate && !sim::isSimulationScenario(scenarioOf(options))) {
        error = messages::unknownScenario(scenarioOf(options));
        return nullptr;
    }
    if (options.configPath) {
        // Opened as the configuration reader opens it, so the reason is the same
        // one it would give; nothing has run yet when a named file is missing.
        std::string reason;
        const int descriptor = openRegularFile(*options.configPath, reason);
        if (descriptor < 0) {
            error = messages::unusableConfig(*options.configPath, reason);
            return nullptr;
        }
        ::close(descriptor);
    }
    std::unique_ptr<HubEnvironment> environment(new HubEnvironment());
    const std::string unnamed =
        options.defaultConfigPath.empty() ? defaultConfigFile() : options.defaultConfigPath;
    environment->configPath_ = options.configPath.value_or(unnamed);
    environment->stateFolder_ = options.stateFolder.value_or(stateFolder());
    environment->options_ = std::move(options);
    environment->console_ = std::move(console);
    return environment;
}

std::unique_ptr<HubEnvironment> HubEnvironment::open(EnvironmentOptions options,
                                                     std::unique_ptr<Console> console,
                                                     const LaunchSettings& settings, std::string& error) {
    auto environment = prepare(std::move(options), std::move(console), error);
    if (!environment || !environment->launch(settings, error)) return nullptr;
    return environment;
}

std::unique_ptr<HubEnvironment> HubEnvironment::openRecords(EnvironmentOptions options,
                                                            std::unique_ptr<Console> console,
                                                            std::string& error) {
    auto environment = prepare(std::move(options), std::move(console), error);
    if (!environment) return nullptr;
    // The configuration names the line's server; a named one must be usable,
    // the resource folder's may be missing.
    SilentConsole silent;
    ConfigLoad loaded = readConfigFile(environment->configPath_, silent);
    if (environment->options_.configPath &&
        !namedConfigUsable(environment->configPath_, loaded.error, loaded.config, error))
        return nullptr;
    environment->config_ = std::move(loaded.config);
    // The clock tells a testbed's command from a real one; no run is recorded.
    if (!environment->makeClock()) return nullptr;
    environment->options_.keepHistory = false;
    environment->makeKeeping();
    return environment;
}

HubEnvironment::~HubEnvironment() {
    // The connection and the recorder refer to the platform and the clock, and the
    // platform may be the recording's: they go first; the recorder before the
    // file and the server it writes to.
    recorder_.reset();
    connection_.reset();
}

bool HubEnvironment::launch(const LaunchSettings& settings, std::string& error) {
    driver::SystemShellRunner systemShell;
    LaunchInputs inputs(*console_, settings.shell ? *settings.shell : systemShell, configPath_);
    inputs.resourcePath = settings.resourcePath;
    inputs.privateFolder = settings.privateFolder;
    inputs.logPath = settings.logPath;
    inputs.systemRoot = settings.systemRoot;
    LaunchResult launched = runLaunchSequence(inputs);
    if (options_.configPath && !namedConfigUsable(configPath_, launched.configError, launched.config, error))
        return false;
    needSignDriver_ = launched.needSignDriver;
    privateFolder_ = std::move(launched.privateFolder);
    return useConfig(std::move(launched.config), error);
}

bool HubEnvironment::useConfig(AppConfig config, std::string& error) {
    config_ = std::move(config);
    if (!makeClock() || !makePlatform(error) || !attachRecording(error)) return false;
    makeHostHold();
    connection_ = std::make_unique<HubConnection>(*platform_, config_.table, *clock_);
    if (observer_) connection_->setRequestObserver(observer_);
    connection_->setFlashSpanHost(hostHold_.get());
    makeKeeping();
    return true;
}

RunOrigin HubEnvironment::origin() const {
    if (options_.simulate) return RunOrigin::Simulated;
    return testbed_ ? RunOrigin::Testbed : RunOrigin::Real;
}

bool HubEnvironment::benchRun() const {
    return origin() != RunOrigin::Real;
}

// Where everything is kept, decided here alone; nothing is opened yet.
void HubEnvironment::makeKeeping() {
    const history::HistoryTarget target = historyTarget();
    // Only the default places are made from nothing; a named file's folder must exist.
    stationFile_ = std::make_unique<history::StationFileAccess>(
        target.localPath, target.localNamed ? FolderCreation::MustExist : FolderCreation::Create);
    if (!target.serverUri.empty()) lineServer_ = std::make_shared<history::PostgresHistory>(target.serverUri);
    const std::string folder = backupsFolder();
    backupStore_ = std::make_unique<backups::BackupStore>(
        folder, options_.backupsFolder ? FolderCreation::MustExist : FolderCreation::Create, origin(),
        options_.backupRunsKept);
    if (options_.keepBackups) {
        // A replay erases nothing real: its flash is read as recorded, then dropped.
        backups_ = replays() ? &recording_->discardingBackups(folder) : backupStore_.get();
    }
    if (options_.keepHistory && !replays()) makeRecorder();
}

std::string HubEnvironment::backupsFolder() const {
    return options_.backupsFolder.value_or(stateFolder_.empty() ? std::string{} : stateFolder_ + "/backups");
}

history::PostgresHistory* HubEnvironment::lineServer() {
    return lineServer_.get();
}

std::unique_ptr<SerialNumberSource> HubEnvironment::openSerialNumbers(std::string& error, bool& serverAway) {
    serverAway = false;
    if (!options_.keepHistory) {
        error = "serial numbers are kept in the history, and this run keeps none";
        return nullptr;
    }
    // A replay records nowhere: its station counts in memory alone.
    if (replays()) return std::make_unique<ReplaySerials>();
    std::string problem;
    if (history::PostgresHistory* server = lineServer()) {
        // One counter for every station on the server. There is no falling back
        // to the station's own file: its numbers would repeat other stations'.
        if (!server->use([](pg_conn*, std::string&) { return true; }, problem)) {
            serverAway = true;
            error = server->refusedConnection() ? messages::serialServerRefused(server->name(), problem)
                                                : messages::serialServerAway(server->name(), problem);
            return nullptr;
        }
        // Each number's marks are kept in the station's file until the server
        // has them; without a usable file they go to the server alone.
        std::string unusable;
        return std::make_unique<history::PostgresSerialCounter>(lineServer_, origin(),
                                                                stationFile_->open(unusable));
    }
    // The station's own file: its counter is this file's alone, shared with the recorder.
    std::shared_ptr<history::StationFile> file = stationFile_->open(problem);
    if (!file) {
        error = "history " + stationFile_->path() + ": " + problem;
        return nullptr;
    }
    return std::make_unique<history::SerialCounter>(std::move(file), origin());
}

std::vector<HubEnvironment::GivenSerial> HubEnvironment::givenSerial(const std::string& serial) {
    std::vector<GivenSerial> found;
    if (!options_.keepHistory || replays()) return found;
    std::string error;
    bool missing = false;
    // Read only: a bench's update makes no history file for the asking.
    if (std::shared_ptr<history::StationFile> file = stationFile_->openExisting(missing, error)) {
        if (const auto row = history::SerialCounter(file, origin()).given(serial, error))
            found.push_back({stationFile_->path(), row->station, row->state});
    }
    if (lineServer_) {
        if (const auto row = history::PostgresSerialCounter(lineServer_, origin()).given(serial, error))
            found.push_back({lineServer_->name(), row->station, row->state});
    }
    return found;
}

// Where this run's history goes: a bench's run reaches a server only through
// its own --history.
history::HistoryTarget HubEnvironment::historyTarget() const {
    const std::string defaultPath =
        stateFolder_.empty() ? std::string{} : stateFolder_ + "/" + history::kHistoryFileName;
    return history::chooseHistory(options_.historyPath, history::historyVariable(), config_.historyServer,
                                  defaultPath, benchRun());
}

// Whether this command's server is the one the station's own settings
// (VELMORA_HISTORY, config.ini) name, however the URIs differ: only that
// server takes the rows written while no server was named.
bool HubEnvironment::serverIsStationsOwn() const {
    if (!lineServer_) return false;
    if (historyTarget().source != history::ServerSource::CommandLine) return true;
    const history::HistoryTarget own =
        history::chooseHistory(std::nullopt, history::historyVariable(), config_.historyServer, {}, false);
    return !own.serverUri.empty() && history::serverIdentity(own.serverUri) == lineServer_->identity();
}

history::HistoryStore* HubEnvironment::historyToRead(bool& missing, std::string& error) {
    missing = false;
    if (history::PostgresHistory* server = lineServer()) {
        if (!server->use([](pg_conn*, std::string&) { return true; }, error)) return nullptr;
        return server;
    }
    const std::shared_ptr<history::StationFile> file = stationFile_->openExisting(missing, error);
    return file ? &file->database() : nullptr;
}

std::string HubEnvironment::historyName() const {
    if (lineServer_) return lineServer_->name();
    return stationFile_->path();
}

std::optional<std::size_t> HubEnvironment::syncHistory(bool& noServer, std::string& error) {
    history::PostgresHistory* server = lineServer();
    noServer = server == nullptr;
    if (noServer) return std::nullopt;
    bool missing = false;
    const std::shared_ptr<history::StationFile> file = stationFile_->openExisting(missing, error);
    if (missing) return 0;
    if (!file) return std::nullopt;
    std::optional<std::size_t> sent =
        history::sendWaitingRows(file->database(), *server, serverIsStationsOwn(), error);
    // The serial numbers' marks kept for this server go too, every station's.
    history::RefusedMarks refused;
    if (sent && !history::sendWaitingMarks(file->database(), *server, {}, refused, error)) sent.reset();
    if (sent && !refused.ids.empty()) {
        error = std::to_string(refused.ids.size()) + " serial numbers' marks refused by the server (" +
                refused.reason + ") and kept on this station";
        sent.reset();
    }
    return sent;
}

std::function<std::optional<history::WaitingRows>()> HubEnvironment::waitingRowsCount() {
    if (lineServer() == nullptr) return {};
    struct Reader {
        history::StationFileAccess& access;
        history::RowsFor rowsFor;
        RunRecorder* recorder;
        std::shared_ptr<history::StationFile> file;
        std::unique_ptr<history::HistoryDatabase> connection;
    };
    // The rows the sender sends: those written for this server.
    auto reader = std::make_shared<Reader>(Reader{
        *stationFile_, {lineServer_->identity(), serverIsStationsOwn()}, recorder_.get(), nullptr, nullptr});
    return [reader]() -> std::optional<history::WaitingRows> {
        std::string error;
        bool missing = false;
        if (!reader->file) reader->file = reader->access.openExisting(missing, error);
        if (missing) return history::WaitingRows{};  // nothing recorded yet
        if (reader->file && !reader->connection) reader->connection = reader->file->openConnection(error);
        if (!reader->connection) return std::nullopt;
        std::optional<history::WaitingRows> rows = reader->connection->waiting(reader->rowsFor, error);
        if (rows && reader->recorder != nullptr) rows->refused = reader->recorder->refusedRows();
        return rows;
    };
}

void HubEnvironment::withRecoverySources(const std::function<void(const RecoverySources&)>& use) {
    // The runs went to the station's file first, whatever server they went on to.
    bool missing = false;
    std::string problem;
    const std::shared_ptr<history::StationFile> file = stationFile_->openExisting(missing, problem);
    if (missing) problem = "no history is kept at " + stationFile_->path();
    use({file ? &file->database() : nullptr, problem, *backupStore_, origin(), config_.table});
}

RecoveryResult HubEnvironment::recoverHub(const WorkflowContext& context, const std::string& port,
                                          const RecoveryConsent& consent) {
    RecoveryResult result;
    withRecoverySources([&](const RecoverySources& sources) {
        result = velmora::recoverHub(context, port, sources, consent);
    });
    return result;
}

std::optional<Rollback> HubEnvironment::rollbackOn(const std::string& port, std::string& problem) {
    std::optional<Rollback> rollback;
    withRecoverySources([&](const RecoverySources& sources) {
        problem = sources.missing;
        rollback = velmora::rollbackOn(sources, port, problem);
    });
    return rollback;
}

std::string HubEnvironment::shippedDefinitionsFolder() const {
    return resourceFolder();
}

std::string HubEnvironment::userDefinitionsFolder() const {
    return userDataFolder();
}

void HubEnvironment::makeRecorder() {
    const history::HistoryTarget target = historyTarget();
    RecorderSettings settings;
    settings.station = options_.stationName;
    settings.origin = origin();
    settings.server = lineServer_.get();
    settings.stationsOwnServer = serverIsStationsOwn();
    settings.retry = history::retryPlanFromEnvironment();
    const auto tell = [this](const std::string& problem) {
        if (options_.onHistoryProblem) options_.onHistoryProblem(problem);
    };
    if (const std::string warning = history::passwordWarning(target); !warning.empty()) tell(warning);
    recorder_ = std::make_unique<RunRecorder>(*stationFile_, std::move(settings), *clock_, tell);
}

bool HubEnvironment::makeClock() {
    const char* variable = std::getenv(kSimulatedTimeVariable);
    bool virtualTime = options_.clock == ClockChoice::Virtual;
    if (options_.clock == ClockChoice::FromVariable && options_.simulate)
        virtualTime = variable != nullptr && std::strcmp(variable, kVirtualTime) == 0;
    // A replay's recorded waits and transfer times pass at once in virtual time,
    // or as long as the hub took on the wall clock.
    if (options_.recording.replayPath) virtualTime = !options_.recording.replayInRealTime;
    if (virtualTime) {
        auto clock = std::make_unique<VirtualClock>();
        virtualClock_ = clock.get();
        clock_ = std::move(clock);
        return true;
    }
    // The real bus runs in the testbed's time when it hands its clock over.
    const std::optional<int> descriptor = testbedClockDescriptor(variable);
    if (options_.clock == ClockChoice::FromVariable && !options_.simulate && !options_.recording.replayPath &&
        descriptor) {
        clock_ = std::make_unique<RemoteClock>(*descriptor);
        testbed_ = true;
    } else {
        clock_ = std::make_unique<SystemClock>();
    }
    return true;
}

// A simulated or replayed hub is no device of this machine: its port names may be
// a real hub's, whose autosuspend it must not change, and nothing real is written
// that sleep could cut off. Its span still holds the signals, as a real one does.
void HubEnvironment::makeHostHold() {
    host::HostHoldSettings settings;
    settings.inhibit = settings.autosuspend = !options_.simulate && !replays();
    settings.signalOwner = options_.signalOwner;
    settings.console = console_.get();
    settings.notice = options_.onHostNotice;
    hostHold_ = std::make_unique<host::HostHold>(std::move(settings));
}

bool HubEnvironment::makePlatform(std::string& error) {
    // A replay serves the hubs itself: no bus is opened, real or simulated.
    if (options_.recording.replayPath) return true;
    if (!options_.simulate) {
        realPlatform_ = std::make_unique<LibusbPlatform>();
        platform_ = realPlatform_.get();
        return true;
    }
    // The simulated hubs take the identity of the table just read.
    simulation_ = sim::SimulatedEnvironment::create(config_.table, *clock_, scenarioOf(options_));
    if (!simulation_) {
        error = messages::unknownScenario(scenarioOf(options_));
        return false;
    }
    platform_ = &simulation_->platform();
    return true;
}

// --record wraps the platform just made; --replay stands in for it.
bool HubEnvironment::attachRecording(std::string& error) {
    if (const std::optional<std::string>& path = options_.recording.recordPath) {
        // The recording is an output of every run, held to the outputs' rule: it
        // would be written over a file the run reads (the files the command
        // names), its configuration, image, history or backups.
        std::vector<GuardedPath> guarded = guardedFiles();
        for (const std::string& named : options_.recording.namedFiles)
            guarded.push_back({named, "a file this run reads or writes"});
        if (const std::optional<std::string> refusal = outputRefusal(*path, guarded)) {
            error = "--record: " + *refusal + "; record into a file of its own";
            return false;
        }
    }
    recording_ = RecordingHook::create(options_.recording, config_.table, *clock_, runIds_.first(), error);
    if (!recording_) return error.empty();
    platform_ = &recording_->platformOver(platform_, *clock_);
    return true;
}

std::optional<std::string> HubEnvironment::replayDivergence() const {
    if (!recording_) return std::nullopt;
    return recording_->divergence();
}

std::optional<std::string> HubEnvironment::recordingProblem() const {
    if (!recording_) return std::nullopt;
    return recording_->recordingProblem();
}

std::string HubEnvironment::configFolder() const {
    const std::filesystem::path parent = std::filesystem::path(configPath_).parent_path();
    if (!parent.empty()) return parent.string();
    return ".";
}

std::unique_ptr<HubConnection> HubEnvironment::connectionTo(const std::string& portPath) {
    auto connection = std::make_unique<HubConnection>(*platform_, config_.table, *clock_, portPath);
    if (observer_) connection->setRequestObserver(observer_);
    connection->setFlashSpanHost(hostHold_.get());
    return connection;
}

void HubEnvironment::observeRequests(HubConnection::RequestObserver observer) {
    observer_ = std::move(observer);
    if (connection_) connection_->setRequestObserver(observer_);
}

ImageAdmission HubEnvironment::admitImage(const std::string& path, ImageUse use, bool allowNewIds) const {
    // Not even read: the history may be open in this process already, and
    // closing any other descriptor of it would drop SQLite's locks on it.
    const std::string history = historyTarget().localPath;
    if (!history.empty() && sameFile(path, history)) {
        ImageAdmission refused;
        refused.refusal = ImageRefusal::Unreadable;
        refused.reason = formatText(messages::kCannotReadFormat, path.c_str(), "it is this run's history");
        return refused;
    }
    ImageAdmission admission = velmora::admitImage(path, config_.table, use, allowNewIds);
    // Only what is written into a hub is judged; a scalar file that is no image
    // at all is left to the run, which writes nothing.
    if (use == ImageUse::FlashPage || !admission.admitted() || !admission.image.loaded) return admission;
    signing::TrustSettings trust = options_.trust;
    trust.requireSignedByConfig = trust.requireSignedByConfig || config_.requireSigned;
    applySignatureRule(path, trust, admission);
    return admission;
}

BytesAdmission HubEnvironment::admitBytes(const BytesToWrite& request) const {
    return admitWrittenBytes(request, config_.table);
}

std::vector<std::string> HubEnvironment::portsFor(const HubChoice& choice) {
    if (!choice.all) return choice.ports;
    return supportedPorts();
}

std::vector<std::string> HubEnvironment::supportedPorts() {
    return supportedHubPorts(*platform_, config_.table);
}

OneHubChoice HubEnvironment::chooseOneHub(const std::optional<std::string>& named) {
    if (named) return {named, {}};
    std::vector<std::string> attached = supportedPorts();
    if (attached.size() > 1) return {std::nullopt, std::move(attached)};
    if (attached.empty()) return {};
    return {attached.front(), {}};
}

std::optional<HeldPortLock> HubEnvironment::hubHeldByAnotherRun() {
    return connection_->portHeldByAnotherRun();
}

}  // namespace velmora
