#pragma once
// What the window drives, built once from its options: the console, the
// configuration, the clock, the USB platform (libusb, or a simulated bus), the
// hub connection the window owns, and the three firmware buffers. Qt-free.
// This is the one place that makes the connection every workflow and every
// detection is handed.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/Config.h"
#include "app/Console.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/UsbPlatform.h"
#include "window/WindowOptions.h"
#include "workflows/FirmwareBuffers.h"
#include "workflows/RunRecorder.h"

namespace velmora::sim {
class SimulatedEnvironment;
}

namespace velmora::window {

// Set to "virtual" in the environment, the simulated hub's resets take no real
// time (the same switch as the command line's).
inline constexpr const char* kSimulatedTimeVariable = "VELMORA_SIMULATED_TIME";

// Console lines go to the system log, and to standard error as well with --verbose.
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
    std::string resourcePath;  // the data folder: IC definitions (with --config, the file's folder)
    std::string userDataPath;  // the user's own chip definitions; may be empty
    // The history database every hub run is recorded in; none: runs are not
    // recorded (the tests' sessions). historyNamed: named by --history, so its
    // folder must exist already.
    std::optional<std::string> historyPath{};
    bool historyNamed = false;

    // The configuration's own folder, which FwBin is taken relative to.
    std::string configFolder() const;
};

class WindowSession {
public:
    // Null, with error set, when a --config file is missing or the scenario is unknown.
    // The configuration itself is read later, by the launch sequence (useConfig).
    static std::unique_ptr<WindowSession> create(const WindowOptions& options, std::string& error);
    // For tests and measurements: a session over a simulated bus with a console of
    // the caller's, in virtual time unless real time is asked for.
    enum class Time { Virtual, Real };
    static std::unique_ptr<WindowSession> createSimulated(const SessionPaths& paths,
                                                          const std::string& scenario,
                                                          std::unique_ptr<Console> console,
                                                          Time time = Time::Virtual);
    ~WindowSession();

    // Takes the configuration the launch sequence read, then makes the platform and
    // the connection that depend on its table. False when the simulated scenario is unknown.
    bool useConfig(AppConfig config);

    Console& console() { return *console_; }
    const SessionPaths& paths() const { return paths_; }
    const AppConfig& config() const { return config_; }
    Clock& clock() { return *clock_; }
    UsbPlatform& platform() { return *platform_; }
    HubConnection& connection() { return *connection_; }
    // The run recorder of the history, or null when none is kept.
    RunObserver* recorder() { return recorder_.get(); }
    // Told once, from a worker, when the history cannot be written.
    void onHistoryProblem(std::function<void(const std::string&)> handler) {
        historyProblem_ = std::move(handler);
    }
    FirmwareBuffers& buffers() { return buffers_; }
    // The simulated bus, or null on real hardware.
    sim::SimulatedEnvironment* simulation() { return simulation_.get(); }
    VirtualClock* virtualClock() { return virtualClock_; }

private:
    WindowSession() = default;
    bool makePlatform();

    std::unique_ptr<Console> console_;
    SessionPaths paths_;
    AppConfig config_;
    bool simulate_ = false;
    std::string scenario_;
    bool virtualTime_ = false;
    std::unique_ptr<Clock> clock_;
    VirtualClock* virtualClock_ = nullptr;
    std::unique_ptr<sim::SimulatedEnvironment> simulation_;
    std::unique_ptr<UsbPlatform> realPlatform_;
    UsbPlatform* platform_ = nullptr;
    std::unique_ptr<HubConnection> connection_;
    std::unique_ptr<RunRecorder> recorder_;
    std::function<void(const std::string&)> historyProblem_;
    FirmwareBuffers buffers_;
};

}  // namespace velmora::window
