#pragma once
// The command line's hold on the core: one HubEnvironment built from the global
// options (configuration, bus, clock, history), with the request trace attached
// when asked for and the history's problems printed on stderr.
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "cli/CliOptions.h"
#include "cli/CommandContext.h"
#include "environment/HubEnvironment.h"

namespace velmora::cli {

class HubSession {
public:
    // Launches and reads the configuration; error tells why when the session
    // cannot be made.
    static std::unique_ptr<HubSession> open(const CommandContext& command, std::string& error);
    // Leaves a replay's divergence and a recording's problem to the command's end.
    ~HubSession();

    HubEnvironment& environment() { return *environment_; }
    const AppConfig& config() const { return environment_->config(); }
    // The configuration's folder: FwBin is taken relative to it. Never the place
    // the driver scripts come from.
    std::string resourcePath() const { return environment_->configFolder(); }
    bool needSignDriver() const { return environment_->needSignDriver(); }
    const std::optional<std::filesystem::path>& privateFolder() const {
        return environment_->privateFolder();
    }
    Console& console() { return environment_->console(); }
    Clock& clock() { return environment_->clock(); }
    UsbPlatform& platform() { return environment_->platform(); }
    HubConnection& connection() { return environment_->connection(); }
    // The traceability history every hub run of this command is recorded in; on
    // a replay, which records nowhere, an observer that keeps nothing.
    RunObserver* recorder() { return environment_->runObserver(); }
    // True when the hubs are served from a recording (--replay).
    bool replays() const { return environment_->replays(); }
    // Where the flash is kept before every erase, or null with --no-backup.
    FlashBackups* backups() { return environment_->backups(); }
    std::unique_ptr<HubConnection> connectionTo(const std::string& portPath) {
        return environment_->connectionTo(portPath);
    }
    // What a run on connection (the session's own when none) is handed: this
    // session's console, record, backups and run names.
    WorkflowContext workflowContext(WorkflowReporter& reporter, HubConnection& connection);
    WorkflowContext workflowContext(WorkflowReporter& reporter) {
        return workflowContext(reporter, connection());
    }

private:
    HubSession(std::unique_ptr<HubEnvironment> environment, std::shared_ptr<SessionEnding> ending)
        : environment_(std::move(environment)), ending_(std::move(ending)) {}

    std::unique_ptr<HubEnvironment> environment_;
    std::shared_ptr<SessionEnding> ending_;
};

// What the global options say of the core: the one options struct both front
// ends fill.
EnvironmentOptions environmentOptions(const CliOptions& options, std::ostream& err);

// The core for a command that reads what is kept and touches no hub (history,
// backups): the configuration read, nothing launched, no bus. Null with error.
std::unique_ptr<HubEnvironment> recordsEnvironment(const CommandContext& command, std::string& error);

}  // namespace velmora::cli
