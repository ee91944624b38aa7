#include "device/HotplugPump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "device/Clock.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedUsbPlatform.h"

namespace velmora {
namespace {

constexpr std::chrono::seconds kPatience{10};  // a bound for a broken pump, never waited out when it works

class HotplugPumpTest : public ::testing::Test {
protected:
    HotplugPumpTest() : bus_(clock_), platform_(bus_) { bus_.addPlainDevice(0x046D, 0xC077, "1-3"); }

    VirtualClock clock_;
    sim::SimulatedBus bus_;
    sim::SimulatedUsbPlatform platform_;
};

// Counts what a listener hears and lets the test wait for a number of events.
class HeardEvents {
public:
    void record(UsbHotplugEvent kind, bool onTestThread) {
        std::lock_guard lock(mutex_);
        (kind == UsbHotplugEvent::Left ? left_ : arrived_)++;
        if (onTestThread) offPumpThread_ = true;
        changed_.notify_all();
    }
    bool waitForTotal(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return left_ + arrived_ >= count; });
    }
    int left_ = 0;
    int arrived_ = 0;
    bool offPumpThread_ = false;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

TEST_F(HotplugPumpTest, ListenersHearRemovalAndArrivalOnThePumpThread) {
    HotplugPump pump(platform_);
    HeardEvents heard;
    const std::thread::id testThread = std::this_thread::get_id();
    pump.addListener([&](UsbHotplugEvent kind, const UsbDeviceInfo&) {
        heard.record(kind, std::this_thread::get_id() == testThread);
    });
    ASSERT_TRUE(pump.start());
    bus_.unplug("1-3");
    ASSERT_TRUE(heard.waitForTotal(1));
    bus_.plugIn("1-3");
    ASSERT_TRUE(heard.waitForTotal(2));
    pump.stop();
    EXPECT_EQ(heard.left_, 1);
    EXPECT_EQ(heard.arrived_, 1);
    EXPECT_FALSE(heard.offPumpThread_);
}

TEST_F(HotplugPumpTest, WaitReturnsOnAMatchingEventAfterTheCall) {
    HotplugPump pump(platform_);
    ASSERT_TRUE(pump.start());
    // The device keeps leaving and coming back until the wait has seen a removal,
    // so the test does not depend on which thread runs first.
    std::atomic<bool> done{false};
    std::thread toggler([&] {
        while (!done) {
            bus_.unplug("1-3");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            bus_.plugIn("1-3");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const bool seen = pump.waitFor(
        [](UsbHotplugEvent kind, const UsbDeviceInfo& device) {
            return kind == UsbHotplugEvent::Left && device.portPath == "1-3";
        },
        kPatience);
    done = true;
    toggler.join();
    EXPECT_TRUE(seen);
}

TEST_F(HotplugPumpTest, WaitWithoutAMatchingEventTimesOut) {
    HotplugPump pump(platform_);
    ASSERT_TRUE(pump.start());
    EXPECT_FALSE(pump.waitFor([](UsbHotplugEvent, const UsbDeviceInfo&) { return false; },
                              std::chrono::milliseconds(1)));
}

TEST_F(HotplugPumpTest, RemovedListenerHearsNothing) {
    HotplugPump pump(platform_);
    HeardEvents removed;
    HeardEvents kept;
    const int id =
        pump.addListener([&](UsbHotplugEvent kind, const UsbDeviceInfo&) { removed.record(kind, false); });
    pump.addListener([&](UsbHotplugEvent kind, const UsbDeviceInfo&) { kept.record(kind, false); });
    pump.removeListener(id);
    ASSERT_TRUE(pump.start());
    bus_.unplug("1-3");
    ASSERT_TRUE(kept.waitForTotal(1));
    pump.stop();
    EXPECT_EQ(removed.left_ + removed.arrived_, 0);
}

}  // namespace
}  // namespace velmora
