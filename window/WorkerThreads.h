#pragma once
// The update workers: one new thread per press of a workflow button, never the
// GUI thread. Their calls to the window wait for the GUI thread, so the window
// keeps handling events while it waits for them at its end.
//
// The threads are the core's WorkerGroup, workers of the session's clock like the
// fleet's runs; only the join's wait belongs to the GUI thread, and each worker's
// end wakes that wait, so a join sleeps rather than polls.
#include <atomic>
#include <functional>

#include "device/Clock.h"
#include "device/WorkerGroup.h"

namespace velmora::window {

class WorkerThreads {
public:
    explicit WorkerThreads(Clock& clock) : group_(clock) {}
    ~WorkerThreads() { joinAll(); }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    void start(std::function<void()> work);
    // Workers still running (tests wait for zero).
    int running() const { return running_; }
    // Joins every worker (GUI thread). Meanwhile it handles the GUI thread's
    // events, so a worker waiting for the window can finish, and sleeps between
    // them until the next event or a worker's end.
    void joinAll();

private:
    std::atomic<int> running_{0};
    WorkerGroup group_;
};

}  // namespace velmora::window
