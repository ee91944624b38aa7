#include "window/HubDetectionService.h"

#include "app/Console.h"

namespace velmora::window {

HubDetectionService::HubDetectionService(std::function<HubInfo()> detect, UsbPlatform& platform,
                                         Console& console, std::function<void(const HubInfo&)> show)
    : detect_(std::move(detect)),
      console_(console),
      show_(std::move(show)),
      scheduler_(
          [this] {
              show_(detect_());
              ++detectionsRun_;
          },
          // A detection deferred by a workflow is asked for again by the thread that
          // ends the workflow; it runs on the detection thread like any other.
          [this] { requestDetection(); }),
      pump_(platform) {
    thread_ = std::thread([this] { run(); });
}

HubDetectionService::~HubDetectionService() {
    stop();
}

void HubDetectionService::stop() {
    pump_.stop();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void HubDetectionService::RegisterNotifycation() {
    pump_.addListener([this](UsbHotplugEvent kind, const UsbDeviceInfo&) { onHotplug(kind); });
    if (!pump_.start()) console_.line("USB hot-plug notifications are not available on this system");
    // Arming the two notifications runs each handler once.
    onHotplug(UsbHotplugEvent::Arrived);
    onHotplug(UsbHotplugEvent::Left);
}

void HubDetectionService::onHotplug(UsbHotplugEvent kind) {
    console_.line(kind == UsbHotplugEvent::Arrived ? "Enter Device Added\n" : "Enter Device Removed\n");
    requestDetection();
}

void HubDetectionService::requestDetection() {
    {
        std::lock_guard lock(mutex_);
        ++queued_;
    }
    wake_.notify_all();
}

void HubDetectionService::run() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || queued_ > 0; });
            if (stopping_) return;
            --queued_;
            running_ = true;
        }
        scheduler_.requestDetection();
        std::lock_guard lock(mutex_);
        running_ = false;
        if (queued_ == 0) wake_.notify_all();
    }
}

void HubDetectionService::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return stopping_ || (queued_ == 0 && !running_); });
}

bool HubDetectionService::idle() {
    std::lock_guard lock(mutex_);
    return queued_ == 0 && !running_;
}

}  // namespace velmora::window
