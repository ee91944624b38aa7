#pragma once
// What a station tells whoever watches it from outside, such as a line's
// monitoring: each unit as it starts and ends, each phase of its run as it ends,
// the serial numbers left and whether the station takes new units. The calls
// come from the station's loop and its unit runs at once and lie on a unit's
// path: each must be quick and never wait on anything slow (a disk, a network,
// a reader of what it keeps).
#include <cstdint>
#include <string>

#include "workflows/RunObserver.h"

namespace velmora {

// The phase named for a unit whose run succeeded but whose hub runs another
// version than the one expected.
inline constexpr const char* kVersionCheckPhase = "version";

class StationWatch {
public:
    virtual ~StationWatch() = default;
    virtual void unitStarted(const std::string& port) = 0;
    // A phase of a unit's run ended (the next began, or the run ended) after
    // seconds on the station's clock.
    virtual void phaseEnded(RunPhase phase, double seconds) = 0;
    // failedPhase, for a failed unit: the phase its run failed in, or
    // kVersionCheckPhase; empty when it failed before its first phase.
    virtual void unitFinished(const std::string& port, bool passed, const std::string& failedPhase) = 0;
    // The serial numbers still free in the station's block.
    virtual void serialsLeft(std::uint64_t count) = 0;
    virtual void takingUnits(bool taking) = 0;
};

}  // namespace velmora
