#include "window/WindowSession.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/AppPaths.h"
#include "app/GeneralFunction.h"
#include "device/LibusbPlatform.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "history/HistoryFile.h"

namespace velmora::window {
namespace {

bool virtualTimeRequested() {
    const char* value = std::getenv(kSimulatedTimeVariable);
    return value != nullptr && std::strcmp(value, "virtual") == 0;
}

std::string folderOf(const std::string& path) {
    const std::string folder = GeneralFunction::GetDirFromPath(path);
    if (!folder.empty()) return folder;
    // "config.ini" lies in the working folder; "/config.ini" in the root.
    return path.find('/') == 0 ? "/" : ".";
}

}  // namespace

std::string SessionPaths::configFolder() const {
    return folderOf(configPath);
}

void WindowConsole::line(std::string_view text) {
    syslog_.line(text);
    if (verbose_) stderr_.line(text);
}

std::unique_ptr<WindowSession> WindowSession::create(const WindowOptions& options, std::string& error) {
    std::unique_ptr<WindowSession> session(new WindowSession());
    session->console_ = std::make_unique<WindowConsole>(options.verbose);
    if (options.configPath) {
        // A file named on the command line must be there; the resource folder's may be
        // missing, and then every key takes its default.
        if (!std::ifstream(*options.configPath)) {
            error = "cannot read " + *options.configPath + ": " + std::strerror(errno);
            return nullptr;
        }
        session->paths_.configPath = *options.configPath;
        session->paths_.resourcePath = folderOf(*options.configPath);
    } else {
        session->paths_.resourcePath = resourceFolder();
        session->paths_.configPath = defaultConfigFile();
    }
    session->paths_.userDataPath = userDataFolder();
    session->paths_.historyPath = options.historyPath.value_or(history::defaultHistoryPath());
    session->paths_.historyNamed = options.historyPath.has_value();
    session->simulate_ = options.simulate;
    session->scenario_ =
        options.scenario.empty() ? std::string(sim::kDefaultSimulationScenario) : options.scenario;
    session->virtualTime_ = options.simulate && virtualTimeRequested();
    if (!sim::isSimulationScenario(session->scenario_)) {
        error = "unknown scenario \"" + session->scenario_ + "\"";
        return nullptr;
    }
    return session;
}

std::unique_ptr<WindowSession> WindowSession::createSimulated(const SessionPaths& paths,
                                                              const std::string& scenario,
                                                              std::unique_ptr<Console> console,
                                                              WindowSession::Time time) {
    std::unique_ptr<WindowSession> session(new WindowSession());
    session->console_ = std::move(console);
    session->paths_ = paths;
    session->simulate_ = true;
    session->scenario_ = scenario;
    session->virtualTime_ = time == WindowSession::Time::Virtual;
    return session;
}

WindowSession::~WindowSession() {
    // The connection and the recorder refer to the platform and the clock: they go first.
    recorder_.reset();
    connection_.reset();
}

bool WindowSession::useConfig(AppConfig config) {
    config_ = std::move(config);
    if (!makePlatform()) return false;
    connection_ = std::make_unique<HubConnection>(*platform_, config_.table, *clock_);
    if (paths_.historyPath) {
        recorder_ = std::make_unique<RunRecorder>(*paths_.historyPath, !paths_.historyNamed, *clock_,
                                                  [this](const std::string& problem) {
                                                      console_->line(problem);
                                                      if (historyProblem_) historyProblem_(problem);
                                                  });
    }
    return true;
}

bool WindowSession::makePlatform() {
    if (virtualTime_) {
        auto clock = std::make_unique<VirtualClock>();
        virtualClock_ = clock.get();
        clock_ = std::move(clock);
    } else {
        clock_ = std::make_unique<SystemClock>();
    }
    if (!simulate_) {
        realPlatform_ = std::make_unique<LibusbPlatform>();
        platform_ = realPlatform_.get();
        return true;
    }
    // The simulated hubs take the identity of the table just read.
    simulation_ = sim::SimulatedEnvironment::create(config_.table, *clock_, scenario_);
    if (!simulation_) return false;
    platform_ = &simulation_->platform();
    return true;
}

}  // namespace velmora::window
