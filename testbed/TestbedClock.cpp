#include "testbed/TestbedClock.h"

namespace velmora::usbfs {

void TestbedClock::sleepFor(Milliseconds duration) {
    // A hub that left since the last look leaves before the time passes, so the
    // removal and the return are two events, as on a real bus.
    testbed_.sync();
    virtualClock_.sleepFor(duration);
    testbed_.sync();
}

}  // namespace velmora::usbfs
