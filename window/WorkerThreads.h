#pragma once
// The update workers: one new thread per press of a workflow button, never the
// GUI thread. Their calls to the window wait for the GUI thread, so the window
// keeps handling events while it waits for them at its end.
//
// The list itself is plain threads; only the join's wait belongs to the GUI
// thread, and each worker's end wakes that wait, so a join sleeps rather than
// polls.
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
    // Joins every worker (GUI thread). Meanwhile it handles the GUI thread's
    // events, so a worker waiting for the window can finish, and sleeps between
    // them until the next event or a worker's end.
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
