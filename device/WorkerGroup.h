#pragma once
// Threads that run as workers of a clock: in virtual time the clock moves only
// when every worker sleeps, so each is counted before it starts and leaves the
// count when it ends. The fleet's runs on several hubs and the station's units
// start here, and the window's update workers; the group joins them all before it
// goes.
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device/Clock.h"

namespace velmora {

class WorkerGroup {
public:
    explicit WorkerGroup(Clock& clock) : clock_(clock) {}
    ~WorkerGroup() { join(); }
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // Starts each task on a thread of its own. All are counted before the first
    // starts, so none of them sees time move while the others are still starting.
    void start(const std::vector<std::function<void()>>& tasks);
    void start(std::function<void()> task) { start(std::vector<std::function<void()>>{std::move(task)}); }
    // Returns once every thread started so far has ended. From any thread but theirs.
    void join();
    // Joins the threads that have ended already, without waiting for the others: a
    // group that starts a thread now and then (one per button press) keeps none
    // of the ended ones.
    void joinEnded();

    // For its life, the calling thread counts as a worker of the clock too (the
    // station's own thread, which starts the units).
    class Membership {
    public:
        explicit Membership(Clock& clock);
        ~Membership();
        Membership(const Membership&) = delete;
        Membership& operator=(const Membership&) = delete;

    private:
        Clock& clock_;
    };

private:
    Clock& clock_;
    struct Worker {
        std::thread thread;
        std::atomic<bool> ended{false};
    };

    std::mutex mutex_;
    std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace velmora
