#include "cli/HubSession.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/AppPaths.h"
#include "cli/CliText.h"
#include "cli/HistoryCommand.h"
#include "cli/ImageFile.h"
#include "device/LibusbPlatform.h"
#include "device/RemoteClock.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "driver_install/CommandRunners.h"
#include "launch/LaunchSequence.h"

namespace velmora::cli {
namespace {

bool virtualTimeRequested() {
    const char* value = std::getenv(kSimulatedTimeVariable);
    return value != nullptr && std::strcmp(value, kVirtualTime) == 0;
}

// The real bus's clock: the wall clock, or the testbed's when it hands one over.
std::unique_ptr<Clock> realBusClock() {
    const char* value = std::getenv(kSimulatedTimeVariable);
    const std::size_t prefix = std::strlen(kTestbedTimePrefix);
    if (value != nullptr && std::strncmp(value, kTestbedTimePrefix, prefix) == 0) {
        char* end = nullptr;
        const long descriptor = std::strtol(value + prefix, &end, 10);
        if (end != value + prefix && *end == '\0' && descriptor > STDERR_FILENO && descriptor < INT_MAX)
            return std::make_unique<RemoteClock>(static_cast<int>(descriptor));
    }
    return std::make_unique<SystemClock>();
}

// A file named on the command line must be read and name a hub: a broken one must
// not pass for a missing hub. The resource folder's may be missing or broken, and
// then every key takes its default, as in the window.
bool namedConfigUsable(const ConfigLoad& load, const std::string& path, std::string& error) {
    if (!load.error.empty()) {
        error = text::unusableConfig(path, load.error);
        return false;
    }
    if (load.config.table.firstValid() == nullptr) {
        error = text::unusableConfig(path, text::kConfigWithoutHub);
        return false;
    }
    return true;
}

}  // namespace

std::string configPathFor(const CliOptions& options) {
    if (options.configPath) return *options.configPath;
    return defaultConfigFile();
}

std::unique_ptr<HubSession> HubSession::open(const CliOptions& options, std::ostream& err,
                                             std::string& error) {
    std::unique_ptr<HubSession> session(new HubSession());
    if (options.verbose) {
        session->console_ = std::make_unique<StderrConsole>();
    } else {
        session->console_ = std::make_unique<SilentConsole>();
    }
    if (options.trace) session->trace_ = &err;
    session->err_ = &err;
    if (!session->loadConfig(options, error) || !session->attachRecording(options, error) ||
        !session->makePlatform(options, error))
        return nullptr;
    session->connection_ =
        std::make_unique<HubConnection>(*session->platform_, session->config_.table, *session->clock_);
    session->attachTrace(*session->connection_);
    session->recorder_ = makeHistoryRecorder(options, *session->clock_, err);
    return session;
}

HubSession::~HubSession() {
    // The connection refers to the platform and the clock: it goes first.
    connection_.reset();
    // A replay that went elsewhere than its recording ends with the one line that says where.
    if (recording_ && err_ != nullptr)
        if (const std::optional<std::string> line = recording_->endingLine()) {
            *err_ << text::kProgramName << ": " << *line << '\n';
            err_->flush();
        }
}

// --record and --replay, the one spot where they enter: the hook is made before
// the platform, which it then replaces (a replay) or wraps (a recording).
bool HubSession::attachRecording(const CliOptions& options, std::string& error) {
    recording_ = RecordingHook::create(options, config_.table, error);
    return recording_ != nullptr || error.empty();
}

bool HubSession::loadConfig(const CliOptions& options, std::string& error) {
    const std::string path = configPathFor(options);
    // A file named on the command line must be there and define a hub; the
    // resource folder's may be missing, and then every key takes its default, as in
    // the window.
    driver::SystemShellRunner shell;
    LaunchResult launched = runLaunchSequence(LaunchInputs(*console_, shell, path));
    if (options.configPath && !namedConfigUsable({launched.config, launched.configError}, path, error))
        return false;
    config_ = std::move(launched.config);
    needSignDriver_ = launched.needSignDriver;
    privateFolder_ = std::move(launched.privateFolder);
    resourcePath_ = containingFolder(path);
    return true;
}

bool HubSession::makePlatform(const CliOptions& options, std::string& error) {
    if (replays()) {
        clock_ = recording_->takeReplayClock();
        platform_ = &recording_->platformOver(nullptr, *clock_);
        return true;
    }
    if (!options.simulate) {
        clock_ = realBusClock();
        realPlatform_ = std::make_unique<LibusbPlatform>();
        platform_ = realPlatform_.get();
        if (recording_) platform_ = &recording_->platformOver(platform_, *clock_);
        return true;
    }
    if (virtualTimeRequested()) {
        clock_ = std::make_unique<VirtualClock>();
    } else {
        clock_ = std::make_unique<SystemClock>();
    }
    const std::string scenario =
        options.scenario.empty() ? std::string(sim::kDefaultSimulationScenario) : options.scenario;
    simulation_ = sim::SimulatedEnvironment::create(config_.table, *clock_, scenario);
    if (!simulation_) {
        error = text::unknownScenario(scenario);
        return false;
    }
    platform_ = &simulation_->platform();
    if (recording_) platform_ = &recording_->platformOver(platform_, *clock_);
    return true;
}

std::unique_ptr<HubConnection> HubSession::connectionTo(const std::string& portPath) {
    auto connection = std::make_unique<HubConnection>(*platform_, config_.table, *clock_, portPath);
    attachTrace(*connection);
    return connection;
}

void HubSession::attachTrace(HubConnection& connection) {
    if (trace_ == nullptr) return;
    std::ostream* trace = trace_;
    connection.setRequestObserver([trace, mutex = traceMutex_](const UsbSetup& setup, IOReturn status) {
        std::lock_guard lock(*mutex);
        *trace << formatTraceLine(setup, status) << '\n';
        trace->flush();
    });
}

}  // namespace velmora::cli
