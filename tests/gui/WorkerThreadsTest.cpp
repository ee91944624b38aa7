// The window's update workers: a join at the window's end lets a worker that waits
// for the GUI thread finish, and sleeps while it waits instead of polling.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

#include "device/Clock.h"
#include "window/GuiHandOver.h"
#include "window/WorkerThreads.h"

namespace velmora::testing {
namespace {

TEST(WorkerThreadsTest, JoinRunsTheCallsAWorkerHandsToTheGuiThread) {
    SystemClock clock;
    QObject target;
    bool ranOnGuiThread = false;
    {
        window::WorkerThreads workers(clock);
        workers.start([&] {
            window::runOnGuiThread(
                &target, [&] { ranOnGuiThread = QThread::currentThread() == target.thread(); },
                Qt::BlockingQueuedConnection);
        });
        workers.joinAll();
        EXPECT_EQ(workers.running(), 0);
        EXPECT_TRUE(ranOnGuiThread);
        // A second join, and the destructor's, find nothing left.
        workers.joinAll();
    }
}

TEST(WorkerThreadsTest, JoinSleepsUntilTheWorkerEnds) {
    // Every return of the GUI thread's event dispatcher from a wait or a poll.
    int wakeUps = 0;
    const QObject counting;  // the count's connection ends with the test
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &counting,
                     [&wakeUps] { ++wakeUps; });
    SystemClock clock;
    window::WorkerThreads workers(clock);
    std::atomic<bool> release{false};
    workers.start([&release] {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::thread releaser([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        release = true;
    });
    workers.joinAll();
    releaser.join();
    // Polling every few milliseconds would wake dozens of times in 60 ms.
    EXPECT_LT(wakeUps, 10);
}

}  // namespace
}  // namespace velmora::testing
