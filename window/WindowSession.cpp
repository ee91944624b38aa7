#include "window/WindowSession.h"

#include <utility>

#include "app/GeneralFunction.h"

namespace velmora::window {

std::string SessionPaths::configFolder() const {
    const std::string folder = GeneralFunction::GetDirFromPath(configPath);
    if (!folder.empty()) return folder;
    // "config.ini" lies in the working folder; "/config.ini" in the root.
    return configPath.find('/') == 0 ? "/" : ".";
}

void WindowConsole::line(std::string_view text) {
    syslog_.line(text);
    if (verbose_) stderr_.line(text);
}

std::unique_ptr<WindowSession> WindowSession::create(const WindowOptions& options, std::string& error,
                                                     host::SignalDeferral* signalOwner) {
    std::unique_ptr<WindowSession> session(new WindowSession());
    EnvironmentOptions environment;
    environment.configPath = options.configPath;
    environment.simulate = options.simulate;
    environment.scenario = options.scenario;
    environment.historyPath = options.historyPath;
    environment.stationName = options.stationName;
    environment.trust.requireSignedOption = options.requireSigned;
    environment.trust.benchKeyFolders = options.trustedKeyFolders;
    environment.recording.recordPath = options.recordPath;
    environment.recording.replayPath = options.replayPath;
    environment.recording.programName = kProgramName;
    environment.recording.commandLine = options.commandLine;
    environment.onHistoryProblem = [raw = session.get()](const std::string& problem) {
        raw->reportHistoryProblem(problem);
    };
    environment.signalOwner = signalOwner;
    // Sleep only delayed: a console line (the system log, and stderr with --verbose).
    environment.onHostNotice = [raw = session.get()](const std::string& line) {
        raw->environment_->console().line(line);
    };
    session->environment_ = HubEnvironment::prepare(std::move(environment),
                                                    std::make_unique<WindowConsole>(options.verbose), error);
    if (!session->environment_) return nullptr;
    session->paths_.configPath = session->environment_->configPath();
    // A named configuration changes the hubs and FwBin, not the chips listed.
    session->paths_.resourcePath = session->environment_->shippedDefinitionsFolder();
    session->paths_.userDataPath = session->environment_->userDefinitionsFolder();
    return session;
}

std::unique_ptr<WindowSession> WindowSession::createSimulated(
    const SessionPaths& paths, const std::string& scenario, std::unique_ptr<Console> console,
    WindowSession::Time time, const std::optional<std::string>& backupsFolder, RecordingOptions recording,
    const std::optional<std::string>& historyPath) {
    std::unique_ptr<WindowSession> session(new WindowSession());
    session->paths_ = paths;
    EnvironmentOptions environment;
    environment.defaultConfigPath = paths.configPath;
    environment.simulate = true;
    environment.scenario = scenario;
    environment.clock = time == WindowSession::Time::Virtual ? ClockChoice::Virtual : ClockChoice::Real;
    environment.keepHistory = historyPath.has_value();
    environment.historyPath = historyPath;
    environment.recording = std::move(recording);
    // The window's tests keep nothing on disk but in a folder of their own.
    environment.keepBackups = backupsFolder.has_value();
    environment.backupsFolder = backupsFolder;
    std::string error;
    session->environment_ = HubEnvironment::prepare(std::move(environment), std::move(console), error);
    if (!session->environment_) return nullptr;
    return session;
}

WindowSession::~WindowSession() = default;

bool WindowSession::launch(const LaunchSettings& settings, std::string& error) {
    LaunchSettings own = settings;
    if (!own.resourcePath) own.resourcePath = paths_.resourcePath;
    return environment_->launch(own, error);
}

void WindowSession::reportHistoryProblem(const std::string& problem) {
    environment_->console().line(problem);
    if (historyProblem_) historyProblem_(problem);
}

}  // namespace velmora::window
