#include "detection/DetectionScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace velmora {
namespace {

TEST(DetectionSchedulerTest, DetectionRunsAtOnceWhenNoWorkflowHoldsTheConnection) {
    int runs = 0;
    int deferred = 0;
    DetectionScheduler scheduler([&] { ++runs; }, [&] { ++deferred; });
    scheduler.requestDetection();
    scheduler.requestDetection();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(deferred, 0);
}

TEST(DetectionSchedulerTest, DetectionDuringAWorkflowIsDeferredAndRunsOnceAfterIt) {
    int runs = 0;
    int deferred = 0;
    DetectionScheduler scheduler([&] { ++runs; }, [&] { ++deferred; });
    {
        WorkflowHold hold(&scheduler);
        EXPECT_TRUE(scheduler.workflowRunning());
        scheduler.requestDetection();  // the hub left during its reset
        scheduler.requestDetection();  // and came back
        EXPECT_EQ(runs, 0);
    }
    EXPECT_FALSE(scheduler.workflowRunning());
    EXPECT_EQ(deferred, 1);
    {
        WorkflowHold hold(&scheduler);  // nothing asked meanwhile: nothing deferred
    }
    EXPECT_EQ(deferred, 1);
}

TEST(DetectionSchedulerTest, WorkflowWaitsForARunningDetection) {
    std::promise<void> detectionEntered;
    std::promise<void> letDetectionFinish;
    std::shared_future<void> finish = letDetectionFinish.get_future().share();
    std::atomic<bool> detectionDone{false};
    DetectionScheduler scheduler(
        [&] {
            detectionEntered.set_value();
            finish.wait();
            detectionDone = true;
        },
        [] {});
    std::thread main([&] { scheduler.requestDetection(); });
    detectionEntered.get_future().wait();

    std::atomic<bool> workflowStarted{false};
    std::thread worker([&] {
        scheduler.workflowStarted();
        // The connection is never shared: detection finished before the workflow starts.
        EXPECT_TRUE(detectionDone.load());
        workflowStarted = true;
        scheduler.workflowEnded();
    });
    // Released only once the worker is seen waiting, so the test shows the wait
    // rather than a lucky order of the two threads.
    while (scheduler.workflowsWaiting() == 0) std::this_thread::yield();
    EXPECT_FALSE(workflowStarted.load());
    letDetectionFinish.set_value();
    main.join();
    worker.join();
    EXPECT_TRUE(workflowStarted.load());
}

}  // namespace
}  // namespace velmora
