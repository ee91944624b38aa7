#pragma once
// The testbed's side of a RemoteClock: serves the waits of a program under test
// from the testbed's clock, on a thread of its own, one socket pair per program.
#include <thread>

#include "device/Clock.h"

namespace velmora::usbfs {

class ClockServer {
public:
    // clock is the testbed's (a TestbedClock moves the emulated bus as time passes).
    explicit ClockServer(Clock& clock);
    ~ClockServer();  // stops serving and closes both ends
    ClockServer(const ClockServer&) = delete;
    ClockServer& operator=(const ClockServer&) = delete;

    // False when no socket pair could be made.
    bool ready() const { return clientDescriptor_ >= 0; }
    // The end to hand to the program.
    int clientDescriptor() const { return clientDescriptor_; }
    // Closes this process's copy of the program's end, once the program has it.
    void releaseClientDescriptor();

private:
    void serve();

    Clock& clock_;
    int serverDescriptor_ = -1;
    int clientDescriptor_ = -1;
    std::thread thread_;
};

}  // namespace velmora::usbfs
