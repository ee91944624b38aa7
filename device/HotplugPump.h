#pragma once
// The one owner of the platform's event handling. libusb delivers hot-plug events
// only to a thread that handles its events, and two threads doing that at once
// would steal each other's events; so one pump thread does it, and everyone else
// (the window's detection, a worker waiting for a hub to come back) listens or
// waits here.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "device/UsbPlatform.h"

namespace velmora {

class HotplugPump {
public:
    using Listener = std::function<void(UsbHotplugEvent, const UsbDeviceInfo&)>;
    using Match = std::function<bool(UsbHotplugEvent, const UsbDeviceInfo&)>;

    explicit HotplugPump(UsbPlatform& platform) : platform_(platform) {}
    ~HotplugPump() { stop(); }
    HotplugPump(const HotplugPump&) = delete;
    HotplugPump& operator=(const HotplugPump&) = delete;

    // Starts the pump thread. False when the platform cannot watch the bus; the
    // thread is then not started and listeners never hear anything.
    bool start();
    void stop();

    // Listeners run on the pump thread, so they must hand longer work elsewhere.
    int addListener(Listener listener);
    void removeListener(int id);

    // Waits, in real time, for an event after this call that matches. True when
    // one came before the timeout.
    bool waitFor(const Match& match, std::chrono::milliseconds timeout);

private:
    void run();
    void deliver(UsbHotplugEvent kind, const UsbDeviceInfo& device);

    UsbPlatform& platform_;
    std::mutex mutex_;
    std::condition_variable eventSeen_;
    std::map<int, Listener> listeners_;
    int nextId_ = 1;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace velmora
