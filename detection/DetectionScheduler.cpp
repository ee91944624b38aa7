#include "detection/DetectionScheduler.h"

namespace velmora {

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
    ++waiting_;
    released_.wait(lock, [this] { return holder_ == Holder::None; });
    --waiting_;
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

int DetectionScheduler::workflowsWaiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

bool DetectionScheduler::workflowRunning() const {
    std::lock_guard lock(mutex_);
    return holder_ == Holder::Workflow;
}

}  // namespace velmora
