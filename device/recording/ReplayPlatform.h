#pragma once
// A platform served from a recording: the hubs answer as they did when the
// recording was made. Every request must be the one recorded next on its port
// (each port keeps its own order, so runs on several hubs replay too); replies,
// statuses and the time each took come from the recording, and the time passes on
// the clock given (a virtual clock replays at once, the wall clock as recorded).
//
// At the first call that differs the replay stops: that call and every later one
// fail (transfers with kIOReturnAborted, opens and claims refused, no devices
// listed), so the run ends, and divergence() holds the one line that says where.
//
// Hot-plug events keep their place among the exchanges: a poll delivers the
// recorded events whose turn has come (every call recorded before them has been
// replayed), however many polls the run makes, and a call recorded after an event
// waits for its delivery while a callback is set. A window's detection thread
// therefore sees the hub leave and return at the same point of an update as when
// it was recorded.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "device/Clock.h"
#include "device/UsbPlatform.h"
#include "device/recording/RecordingFile.h"

namespace velmora::recording {

// The status every transfer gets once the replay has diverged.
inline constexpr IOReturn kReplayDivergedStatus = kIOReturnAborted;

class ReplayPlatform final : public UsbPlatform {
public:
    ReplayPlatform(Recording recording, Clock& clock);

    std::vector<UsbDeviceInfo> listDevices() override;
    ClaimResult claimPort(const std::string& portPath) override;
    OpenResult openDevice(const UsbDeviceInfo& device) override;
    bool setHotplugCallback(HotplugCallback callback) override;
    void pollEvents(std::chrono::milliseconds timeout) override;
    std::uint64_t arrivalsAt(const std::string& portPath) override;
    bool waitForArrival(const std::string& portPath, std::uint64_t seen, Milliseconds deadline,
                        Clock& clock) override;

    const RecordingHeader& header() const { return header_; }
    // "Replay diverged at exchange 57: recorded ..., sent ...", once a call differed.
    std::optional<std::string> divergence() const;
    // Exchanges of the recording that the run has not reached (0 after a whole replay).
    std::size_t unplayed() const;

    // A transfer on a device this platform opened: the recorded reply and status,
    // or kReplayDivergedStatus from the first transfer that differs on.
    IOReturn replayTransfer(const std::string& port, const UsbSetup& setup, std::uint8_t* data);

private:
    struct PortQueue {
        std::deque<Exchange> exchanges;
        std::uint64_t arrivals = 0;       // the last count recorded on the port
        std::vector<UsbDeviceInfo> seen;  // the device the last listing showed there
    };
    void addSightings(const Exchange& listing);
    // The next exchange on the port that a call must match, soft ones (closes,
    // arrival counts) passed over. Null, with the divergence noted, when the
    // recording has none or one of another kind. mutex_ held.
    std::optional<Exchange> take(std::unique_lock<std::mutex>& lock, const std::string& port,
                                 ExchangeKind kind, const std::string& sent);
    // The number of the first call still to be replayed on any port (soft ones
    // aside); past every number when none is left. mutex_ held.
    std::uint64_t nextCallNumber();
    // Whether the run has reached the recorded event. mutex_ held.
    bool hotplugDue(const Exchange& event) { return nextCallNumber() > event.number; }
    // Returns once every event recorded before exchange number has been delivered,
    // or when no poll comes for a while (no callback, or a run that went elsewhere).
    void awaitHotplugsBefore(std::unique_lock<std::mutex>& lock, std::uint64_t number);
    void skipSoft(PortQueue& queue);
    std::optional<ExchangeKind> nextKind(const std::string& port);  // past the soft ones
    void passSoft(PortQueue& queue);
    void diverge(std::string line);

    mutable std::mutex mutex_;
    std::condition_variable progressed_;  // a call replayed, an event delivered, a divergence
    Clock& clock_;
    RecordingHeader header_;
    std::map<std::string, PortQueue> ports_;
    std::vector<std::string> portOrder_;
    std::deque<bool> watches_;
    std::deque<Exchange> hotplugs_;  // the events still to deliver, in recorded order
    bool delivering_ = false;        // a poll is handing the first events to the callback
    bool hotplugsStalled_ = false;   // an event was not delivered in time: calls no longer wait
    HotplugCallback callback_;
    std::uint64_t endNumber_ = 1;  // the number after the recording's last exchange
    std::optional<std::string> divergence_;
};

// The line a replay ends with when the run asked for something else than the
// recording holds. recorded: null when the recording holds nothing more.
std::string divergenceLine(std::uint64_t number, const Exchange* recorded, const std::string& sent);

}  // namespace velmora::recording
