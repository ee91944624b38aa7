#pragma once
// Every wait of the device layer goes through a Clock, so the program sleeps for
// real while tests run the hub's reset polls in virtual time.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace velmora {

using Milliseconds = std::chrono::milliseconds;

class Clock {
public:
    virtual ~Clock() = default;
    virtual Milliseconds now() const = 0;
    virtual void sleepFor(Milliseconds duration) = 0;
    // True when time is the machine's own: a wait may then block on an outside
    // event (a hot-plug notification) and wake when it comes. A clock of virtual
    // time moves only through sleeps, so its waits must sleep.
    virtual bool isWallClock() const { return false; }

    // Threads that run side by side on one clock (one worker per hub). A clock of
    // virtual time needs to know them, so that time moves on only once every one of
    // them sleeps; the others ignore these calls. addWorkers is called by the
    // thread that starts them, before they start; each worker then enters on its
    // own thread first and leaves last.
    virtual void addWorkers(int /*count*/) {}
    virtual void enterWorker() {}
    virtual void leaveWorker() {}
};

class SystemClock final : public Clock {
public:
    Milliseconds now() const override;
    void sleepFor(Milliseconds duration) override;
    bool isWallClock() const override { return true; }
};

// Time moves only when someone sleeps; every sleep is recorded. Each sleeping
// thread wakes when time reaches its own deadline, and time jumps to the earliest
// deadline once every worker sleeps (a thread that is no worker counts as one for
// the length of its sleep). One thread alone therefore moves time by exactly
// each of its sleeps, and parallel workers never push each other's waits forward:
// runs of many hubs stay deterministic and take no real time.
class VirtualClock final : public Clock {
public:
    Milliseconds now() const override;
    void sleepFor(Milliseconds duration) override;
    void advance(Milliseconds duration);
    std::vector<Milliseconds> sleeps() const;
    void clearSleeps();

    void addWorkers(int count) override;
    void enterWorker() override;
    void leaveWorker() override;

private:
    void advanceIfAllAsleep();  // with mutex_ held

    mutable std::mutex mutex_;
    std::condition_variable timeMoved_;
    Milliseconds now_{0};
    std::vector<Milliseconds> sleeps_;
    int participants_ = 0;  // workers, and the other threads while they sleep
    int asleep_ = 0;
    std::multiset<Milliseconds> deadlines_;
    std::map<std::thread::id, int> workers_;  // each worker thread, with how often it entered
};

}  // namespace velmora
