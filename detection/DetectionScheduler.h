#pragma once
// Detection and the workflows share one hub connection. Detection runs at launch
// and on every USB arrival or removal, and must never take the connection away
// from a running workflow; a workflow must not start while detection holds it.
#include <condition_variable>
#include <functional>
#include <mutex>

namespace velmora {

// Keeps detection and workflows apart on the one connection. Detection asked for
// while a workflow holds the connection is deferred and run once when it ends;
// a workflow that starts while detection runs waits for it (a few requests).
class DetectionScheduler {
public:
    // runDetection does the detection and shows its result. onDeferredDetection is
    // called on the thread that ends the workflow when a detection was deferred; a
    // window hands it to its main thread, the command line just calls requestDetection.
    DetectionScheduler(std::function<void()> runDetection, std::function<void()> onDeferredDetection);

    void requestDetection();
    void workflowStarted();
    void workflowEnded();
    bool workflowRunning() const;
    // How many workflows are waiting for a running detection to end.
    int workflowsWaiting() const;

private:
    enum class Holder { None, Detection, Workflow };

    std::function<void()> runDetection_;
    std::function<void()> onDeferredDetection_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    Holder holder_ = Holder::None;
    bool pending_ = false;
    int waiting_ = 0;
};

// Holds the connection for a workflow for the lifetime of the object.
class WorkflowHold {
public:
    explicit WorkflowHold(DetectionScheduler* scheduler) : scheduler_(scheduler) {
        if (scheduler_ != nullptr) scheduler_->workflowStarted();
    }
    ~WorkflowHold() {
        if (scheduler_ != nullptr) scheduler_->workflowEnded();
    }
    WorkflowHold(const WorkflowHold&) = delete;
    WorkflowHold& operator=(const WorkflowHold&) = delete;

private:
    DetectionScheduler* scheduler_;
};

}  // namespace velmora
