#pragma once
// Hub detection for the window, off its GUI thread: a hub that does not answer
// would otherwise freeze the window for the request timeout. USB arrivals and
// removals come from the hot-plug pump; each asks for one detection, which runs
// on the detection thread through the core's scheduler (deferred while a
// workflow holds the connection) and hands its text and colour to show.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "detection/DetectionScheduler.h"
#include "detection/HubDetection.h"
#include "device/HotplugPump.h"

namespace velmora {
class Console;
}  // namespace velmora

namespace velmora::window {

class HubDetectionService {
public:
    // detect and show run on the detection thread; the window hands the result on
    // to its GUI thread.
    HubDetectionService(std::function<HubInfo()> detect, UsbPlatform& platform, Console& console,
                        std::function<void(const HubInfo&)> show);
    ~HubDetectionService();
    HubDetectionService(const HubDetectionService&) = delete;
    HubDetectionService& operator=(const HubDetectionService&) = delete;

    // Watches the bus (every device, hub or not) and runs detection twice at once,
    // as the arrival and the removal handler do when they are armed.
    void RegisterNotifycation();
    // One more detection, queued to the detection thread.
    void requestDetection();
    void stop();

    DetectionScheduler& scheduler() { return scheduler_; }
    HotplugPump& pump() { return pump_; }
    // Detections that ran to the end (tests count them).
    int detectionsRun() const { return detectionsRun_; }
    // Nothing queued and nothing running on the detection thread.
    bool idle();
    // Returns once idle (or stopped): the launch's scalar run starts only after the
    // launch detections have ended.
    void waitUntilIdle();

private:
    void run();
    void onHotplug(UsbHotplugEvent kind);

    std::function<HubInfo()> detect_;
    Console& console_;
    std::function<void(const HubInfo&)> show_;
    DetectionScheduler scheduler_;
    HotplugPump pump_;
    std::mutex mutex_;
    std::condition_variable wake_;
    int queued_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    std::atomic<int> detectionsRun_{0};
    std::thread thread_;
};

}  // namespace velmora::window
