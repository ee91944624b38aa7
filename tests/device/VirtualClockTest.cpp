// The virtual clock shared by parallel workers: each sleeper wakes at its own
// deadline, and time jumps to the earliest deadline once every worker sleeps.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "device/Clock.h"
#include "device/WorkerGroup.h"

namespace velmora {
namespace {

struct Wake {
    std::string who;
    Milliseconds at;
    bool operator==(const Wake&) const = default;
};

class WakeLog {
public:
    void note(VirtualClock& clock, const std::string& who) {
        std::lock_guard lock(mutex_);
        wakes_.push_back({who, clock.now()});
    }
    std::vector<Wake> wakes() {
        std::lock_guard lock(mutex_);
        return wakes_;
    }

private:
    std::mutex mutex_;
    std::vector<Wake> wakes_;
};

// Runs each task as a worker of the clock and returns once all have ended.
void runWorkers(Clock& clock, const std::vector<std::function<void()>>& tasks) {
    WorkerGroup workers(clock);
    workers.start(tasks);
    workers.join();
}

TEST(VirtualClockTest, ParallelWorkersWakeAtTheirOwnDeadlinesInTimeOrder) {
    VirtualClock clock;
    WakeLog log;
    // Sleeps that a single shared sum would have pushed to 1000 + 300 + ...
    const auto worker = [&](const std::string& who, std::vector<long> sleeps) {
        return [&clock, &log, who, sleeps] {
            for (long sleep : sleeps) {
                clock.sleepFor(Milliseconds{sleep});
                log.note(clock, who);
            }
        };
    };
    runWorkers(clock, {worker("a", {1000, 500}), worker("b", {300, 300, 300}), worker("c", {2000})});
    EXPECT_EQ(clock.now(), Milliseconds{2000});
    std::vector<Wake> expected{{"b", Milliseconds{300}},  {"b", Milliseconds{600}},
                               {"b", Milliseconds{900}},  {"a", Milliseconds{1000}},
                               {"a", Milliseconds{1500}}, {"c", Milliseconds{2000}}};
    EXPECT_EQ(log.wakes(), expected);
}

// A worker that is busy (not asleep) holds time still for the sleeping ones; one
// that has ended no longer does.
TEST(VirtualClockTest, TimeWaitsForTheBusyWorkerAndNotForAnEndedOne) {
    VirtualClock clock;
    std::mutex mutex;
    Milliseconds seenByBusy{-1};
    Milliseconds sleeperWokeAt{-1};
    runWorkers(clock, {[&] {
                           clock.sleepFor(Milliseconds{100});
                           std::lock_guard lock(mutex);
                           sleeperWokeAt = clock.now();
                       },
                       [&] {
                           // Busy for a while in real terms: time must not move meanwhile.
                           for (int i = 0; i < 1000; ++i) std::this_thread::yield();
                           std::lock_guard lock(mutex);
                           seenByBusy = clock.now();
                       }});
    EXPECT_EQ(seenByBusy, Milliseconds{0});
    EXPECT_EQ(sleeperWokeAt, Milliseconds{100});
}

TEST(VirtualClockTest, OneThreadAloneMovesTimeByEachSleepAndRecordsThem) {
    VirtualClock clock;
    clock.sleepFor(Milliseconds{128});
    clock.sleepFor(Milliseconds{0});
    clock.advance(Milliseconds{10});
    clock.sleepFor(Milliseconds{2000});
    EXPECT_EQ(clock.now(), Milliseconds{2138});
    EXPECT_EQ(clock.sleeps(),
              (std::vector<Milliseconds>{Milliseconds{128}, Milliseconds{0}, Milliseconds{2000}}));
}

}  // namespace
}  // namespace velmora
