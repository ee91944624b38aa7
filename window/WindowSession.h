#pragma once
// What the window drives, built once from its options: one HubEnvironment (the
// launch, the configuration, the clock, the USB platform, the hub connection
// the window owns, the run recorder) and the three firmware buffers. Qt-free.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/Config.h"
#include "app/Console.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/UsbPlatform.h"
#include "environment/HubEnvironment.h"
#include "history/RunRecorder.h"
#include "window/WindowOptions.h"
#include "workflows/FirmwareBuffers.h"

namespace velmora::sim {
class SimulatedEnvironment;
}

namespace velmora::host {
class SignalDeferral;
}

namespace velmora::window {

// Console lines go to the system log, and to standard error as well with
// --verbose.
class WindowConsole final : public Console {
public:
    explicit WindowConsole(bool verbose) : verbose_(verbose) {}
    void line(std::string_view text) override;

private:
    SyslogConsole syslog_;
    StderrConsole stderr_;
    bool verbose_;
};

struct SessionPaths {
    std::string configPath;    // the config.ini read at launch
    std::string resourcePath;  // the data folder: IC definitions (the shipped
                               // ones, whatever config is named)
    std::string userDataPath;  // the user's own chip definitions; may be empty

    // The configuration's own folder, which FwBin is taken relative to.
    std::string configFolder() const;
};

class WindowSession {
public:
    // Null, with error set, when a --config file cannot be read or the scenario
    // is unknown. The configuration itself is read later, by the launch (launch).
    // signalOwner: the process's owner of its signals, which the window's main makes.
    static std::unique_ptr<WindowSession> create(const WindowOptions& options, std::string& error,
                                                 host::SignalDeferral* signalOwner = nullptr);
    // For tests and measurements: a session over a simulated bus with a console
    // of the caller's, in virtual time unless real time is asked for, keeping no
    // history unless historyPath names one; backups only in backupsFolder when one is given; recording it, or
    // replaying a recording instead, when asked.
    enum class Time { Virtual, Real };
    static std::unique_ptr<WindowSession> createSimulated(
        const SessionPaths& paths, const std::string& scenario, std::unique_ptr<Console> console,
        Time time = Time::Virtual, const std::optional<std::string>& backupsFolder = std::nullopt,
        RecordingOptions recording = {}, const std::optional<std::string>& historyPath = std::nullopt);
    ~WindowSession();

    // The core's launch (console lines, log line, boot-args snapshot, config.ini
    // and its rule), then the platform and the connection on its table. False
    // with error.
    bool launch(const LaunchSettings& settings, std::string& error);

    HubEnvironment& environment() { return *environment_; }
    Console& console() { return environment_->console(); }
    const SessionPaths& paths() const { return paths_; }
    const AppConfig& config() const { return environment_->config(); }
    bool needSignDriver() const { return environment_->needSignDriver(); }
    Clock& clock() { return environment_->clock(); }
    UsbPlatform& platform() { return environment_->platform(); }
    HubConnection& connection() { return environment_->connection(); }
    // The run recorder of the history, or null when none is kept; on a replay, an
    // observer that keeps nothing.
    RunObserver* recorder() { return environment_->runObserver(); }
    FlashBackups* backups() { return environment_->backups(); }
    // Told once, from a worker, when the history cannot be written.
    void onHistoryProblem(std::function<void(const std::string&)> handler) {
        historyProblem_ = std::move(handler);
    }
    FirmwareBuffers& buffers() { return buffers_; }
    // The simulated bus, or null on real hardware.
    sim::SimulatedEnvironment* simulation() { return environment_->simulation(); }
    VirtualClock* virtualClock() { return environment_->virtualClock(); }

private:
    WindowSession() = default;
    void reportHistoryProblem(const std::string& problem);

    SessionPaths paths_;
    std::unique_ptr<HubEnvironment> environment_;
    std::function<void(const std::string&)> historyProblem_;
    FirmwareBuffers buffers_;
};

}  // namespace velmora::window
