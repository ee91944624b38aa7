#include "app/HubDetection.h"

#include <cstdint>
#include <cstdio>

#include "device/UsbConnection.h"
#include "device/VendorCommands.h"

namespace velmora {

HubInfo DetectHub(HubConnection& connection) {
    if (!USB_IsHubPresent(connection)) {
        return {kHubNotFoundText, TextColour::Red};
    }
    // A hub that is attached but cannot be opened keeps this value and shows ffff.
    std::uint16_t version = 0xFFFF;
    if (USB_OpenHub(connection)) {
        version = VC_GetFwVersion(connection);
    }
    USB_CloseHub(connection);

    if (version == 0) {
        return {kHubNeedsDriverText, TextColour::Blue};
    }
    char text[64];
    std::snprintf(text, sizeof text, kHubVersionFormat, version);
    return {text, TextColour::Blue};
}

DetectionScheduler::DetectionScheduler(std::function<void()> runDetection,
                                       std::function<void()> onDeferredDetection)
    : runDetection_(std::move(runDetection)), onDeferredDetection_(std::move(onDeferredDetection)) {}

void DetectionScheduler::requestDetection() {
    {
        std::lock_guard lock(mutex_);
        if (holder_ != Holder::None) {
            pending_ = true;
            return;
        }
        holder_ = Holder::Detection;
    }
    runDetection_();
    bool again = false;
    {
        std::lock_guard lock(mutex_);
        holder_ = Holder::None;
        again = pending_;
        pending_ = false;
    }
    released_.notify_all();
    // A device arrived or left while this detection ran: look once more.
    if (again) {
        requestDetection();
    }
}

void DetectionScheduler::workflowStarted() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return holder_ == Holder::None; });
    holder_ = Holder::Workflow;
}

void DetectionScheduler::workflowEnded() {
    bool deferred = false;
    {
        std::lock_guard lock(mutex_);
        holder_ = Holder::None;
        deferred = pending_;
        pending_ = false;
    }
    released_.notify_all();
    if (deferred && onDeferredDetection_) {
        onDeferredDetection_();
    }
}

bool DetectionScheduler::workflowRunning() const {
    std::lock_guard lock(mutex_);
    return holder_ == Holder::Workflow;
}

}  // namespace velmora
