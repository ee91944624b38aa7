#pragma once
// Everything a hub command needs, built from the global options: the launch
// sequence (log line, boot-args snapshot, configuration), the USB platform (real,
// or a simulated bus), the clock and the connection, with the request trace
// attached when asked for.
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "app/Config.h"
#include "app/Console.h"
#include "cli/CliOptions.h"
#include "cli/RecordingHook.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/RemoteClock.h"
#include "device/UsbPlatform.h"
#include "workflows/RunRecorder.h"

namespace velmora::sim {
class SimulatedEnvironment;
}

namespace velmora::cli {

// Set to "virtual" in the environment, the simulated hub's resets and the program's
// waits take no real time. Set to "fd:N", the program's waits are served by the
// emulated-usbfs testbed over descriptor N, in the testbed's virtual time. For
// tests of the command line; neither has any effect on a real hub's timing.
inline constexpr const char* kSimulatedTimeVariable = kRemoteClockVariable;
inline constexpr const char* kVirtualTime = "virtual";
inline constexpr const char* kTestbedTimePrefix = kRemoteClockPrefix;

class HubSession {
public:
    // Reads the configuration; error tells why when the session cannot be made.
    static std::unique_ptr<HubSession> open(const CliOptions& options, std::ostream& err, std::string& error);
    ~HubSession();

    const AppConfig& config() const { return config_; }
    // The configuration's folder: FwBin is taken relative to it. Never the place
    // the driver scripts come from.
    const std::string& resourcePath() const { return resourcePath_; }
    // From the launch sequence: the signature flag and this user's private folder
    // (none when it cannot be had).
    bool needSignDriver() const { return needSignDriver_; }
    const std::optional<std::filesystem::path>& privateFolder() const { return privateFolder_; }
    Console& console() { return *console_; }
    Clock& clock() { return *clock_; }
    UsbPlatform& platform() { return *platform_; }
    HubConnection& connection() { return *connection_; }
    // The traceability history every hub run of this command is recorded in.
    RunRecorder& recorder() { return *recorder_; }
    // True when the hubs are served from a recording (--replay): such a run must
    // leave no history row and no backup behind.
    bool replays() const { return recording_ && recording_->replays(); }
    // A connection of its own to the hub on one port, traced like the main one.
    std::unique_ptr<HubConnection> connectionTo(const std::string& portPath);

private:
    HubSession() = default;
    bool loadConfig(const CliOptions& options, std::string& error);
    bool makePlatform(const CliOptions& options, std::string& error);
    void attachTrace(HubConnection& connection);
    bool attachRecording(const CliOptions& options, std::string& error);

    std::unique_ptr<Console> console_;
    AppConfig config_;
    std::string resourcePath_;
    bool needSignDriver_ = false;
    std::optional<std::filesystem::path> privateFolder_;
    std::unique_ptr<RecordingHook> recording_;  // --record or --replay; before the platform it wraps
    std::ostream* err_ = nullptr;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<sim::SimulatedEnvironment> simulation_;
    std::unique_ptr<UsbPlatform> realPlatform_;
    UsbPlatform* platform_ = nullptr;
    std::unique_ptr<HubConnection> connection_;
    std::unique_ptr<RunRecorder> recorder_;
    std::ostream* trace_ = nullptr;
    // Connections to several hubs trace from their workers at once: one line at a time.
    std::shared_ptr<std::mutex> traceMutex_ = std::make_shared<std::mutex>();
};

// The configuration file the options name, or the default one (defaultConfigFile).
std::string configPathFor(const CliOptions& options);

}  // namespace velmora::cli
