#include "cli/HubSession.h"

#include <utility>

#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "cli/CliText.h"

namespace velmora::cli {

EnvironmentOptions environmentOptions(const CliOptions& options, std::ostream& err) {
    EnvironmentOptions environment;
    environment.configPath = options.configPath;
    environment.simulate = options.simulate;
    environment.scenario = options.scenario;
    environment.historyPath = options.historyPath;
    environment.stationName = options.stationName;
    environment.keepBackups = !options.noBackup;
    environment.trust.benchKeyFolders = options.trustedKeyFolders;
    environment.trust.requireSignedOption = options.requireSigned;
    if (options.backupRunsKept) environment.backupRunsKept = *options.backupRunsKept;
    environment.recording.recordPath = options.recordPath;
    environment.recording.replayPath = options.replayPath;
    environment.recording.replayInRealTime = options.replayInRealTime;
    environment.recording.programName = text::kProgramName;
    environment.recording.commandLine = options.commandLine;
    // The images a command writes are among its words.
    environment.recording.namedFiles = options.words;
    // What the core tells from whichever thread ran: a line on stderr.
    const auto errorLine = [&err](const std::string& line) {
        err << text::kProgramName << ": " << printableText(line, false) << '\n';
        err.flush();
    };
    environment.onHistoryProblem = errorLine;
    environment.onHostNotice = errorLine;
    return environment;
}

std::unique_ptr<HubSession> HubSession::open(const CommandContext& command, std::string& error) {
    const CliOptions& options = command.options;
    std::ostream& err = command.streams.err;
    std::unique_ptr<Console> console;
    if (options.verbose) {
        console = std::make_unique<StderrConsole>();
    } else {
        console = std::make_unique<SilentConsole>();
    }
    EnvironmentOptions environmentChoice = environmentOptions(options, err);
    environmentChoice.signalOwner = command.signalOwner;
    auto environment = HubEnvironment::open(std::move(environmentChoice), std::move(console), {}, error);
    if (!environment) return nullptr;
    if (options.trace) {
        // Connections to several hubs trace from their workers at once: one line at
        // a time.
        environment->observeRequests(
            [&err, mutex = std::make_shared<std::mutex>()](const UsbSetup& setup, IOReturn status) {
                std::lock_guard lock(*mutex);
                err << formatTraceLine(setup, status) << '\n';
                err.flush();
            });
    }
    return std::unique_ptr<HubSession>(new HubSession(std::move(environment), command.ending));
}

WorkflowContext HubSession::workflowContext(WorkflowReporter& reporter, HubConnection& connection) {
    return {reporter, connection, nullptr, &console(), recorder(), backups(), &environment_->runIds()};
}

std::unique_ptr<HubEnvironment> recordsEnvironment(const CommandContext& command, std::string& error) {
    return HubEnvironment::openRecords(environmentOptions(command.options, command.streams.err),
                                       std::make_unique<SilentConsole>(), error);
}

HubSession::~HubSession() {
    ending_->replayDivergence = environment_->replayDivergence();
    ending_->recordingProblem = environment_->recordingProblem();
}

}  // namespace velmora::cli
