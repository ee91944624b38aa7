#pragma once
// Time kept by another process. The emulated-usbfs testbed runs its hub model in
// virtual time and hands the program under test one end of a socket pair: every
// wait of the program then moves the testbed's clock instead of the wall clock, so
// a reset's twenty two-second polls take no real time, and the hub comes back
// exactly when its model says. Nothing else uses it.
#include <cstdint>
#include <mutex>

#include "device/Clock.h"

namespace velmora {

// How a program is told which descriptor its RemoteClock uses: this variable set
// to the prefix and the descriptor's number ("fd:5").
inline constexpr const char* kRemoteClockVariable = "VELMORA_SIMULATED_TIME";
inline constexpr const char* kRemoteClockPrefix = "fd:";

// One request on the socket: a signed 64-bit count of milliseconds to sleep
// (kRemoteClockAskTime asks the time only); one answer: the time afterwards.
inline constexpr std::int64_t kRemoteClockAskTime = -1;

class RemoteClock final : public Clock {
public:
    // Takes over the descriptor of a connected stream socket.
    explicit RemoteClock(int descriptor) : descriptor_(descriptor) {}
    ~RemoteClock() override;
    RemoteClock(const RemoteClock&) = delete;
    RemoteClock& operator=(const RemoteClock&) = delete;

    // When the other side has gone, time stands still and sleeps return at once:
    // the waits then run out quickly and the command ends with its failure.
    Milliseconds now() const override;
    void sleepFor(Milliseconds duration) override;

private:
    Milliseconds exchange(std::int64_t request) const;

    int descriptor_;
    mutable std::mutex mutex_;
    mutable Milliseconds lastKnown_{0};
};

}  // namespace velmora
