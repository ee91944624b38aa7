#pragma once
// The update workers: one new thread per press of a workflow button, never the
// GUI thread. Their calls to the window wait for the GUI thread, so the window
// keeps handling events while it waits for them at its end.
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace velmora::window {

class WorkerThreads {
public:
    WorkerThreads() = default;
    ~WorkerThreads() { joinAll(); }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    void start(std::function<void()> work);
    // Workers still running (tests wait for zero).
    int running() const;
    // Joins every worker, handling the GUI thread's events meanwhile so a worker
    // waiting for the window can finish.
    void joinAll();

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    void joinFinished();

    std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace velmora::window
