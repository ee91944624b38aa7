#pragma once
// Virtual time that also moves the emulated bus: every sleep of the program
// advances the clock the hub model reboots by and then shows libusb what the bus
// looks like afterwards. A reset wait of twenty two-second polls runs at once,
// and the hub is back exactly when the model says it is.
#include "device/Clock.h"
#include "testbed/UsbfsTestbed.h"

namespace velmora::usbfs {

class TestbedClock final : public Clock {
public:
    // virtualClock is the one the simulated bus and its hubs were built with.
    TestbedClock(VirtualClock& virtualClock, UsbfsTestbed& testbed)
        : virtualClock_(virtualClock), testbed_(testbed) {}

    Milliseconds now() const override { return virtualClock_.now(); }
    void sleepFor(Milliseconds duration) override;

private:
    VirtualClock& virtualClock_;
    UsbfsTestbed& testbed_;
};

}  // namespace velmora::usbfs
