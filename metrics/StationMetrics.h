#pragma once
// The station's figures for a line's monitoring, each series labelled with the
// station's name: units finished by port and result, units in progress, how
// long each phase of a unit's run took, failures by port and phase, the serial
// numbers left in the station's block, the history rows waiting for the line's
// server (and the age of the oldest), the rows the server refused, whether the
// station takes units, and the program's version.
//
// The station calls it from its loop and its unit runs at once; each call holds
// a lock only for its own update and never waits on a scrape.
#include <cstdint>
#include <string>

#include "metrics/Exposition.h"
#include "metrics/MetricsRegistry.h"

namespace velmora::metrics {

enum class UnitResult { Passed, Failed };

// The bounds of the phase durations' buckets, in seconds: a hub's phases take
// from tens of milliseconds (an open) to tens of seconds (an erase, a reset that
// waits for the hub to come back).
inline constexpr double kPhaseBucketsSeconds[] = {0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 20, 40};

class StationMetrics {
public:
    StationMetrics(const std::string& stationName, const std::string& programVersion);

    // A unit's run started on port.
    void unitStarted(const std::string& port);
    // A phase of a unit's run ("open", "erase", ...) ended after seconds.
    void phaseEnded(const std::string& phase, double seconds);
    // The unit on port was judged. failedPhase: the phase its run failed in (a
    // failed unit only; empty counts as "none").
    void unitFinished(const std::string& port, UnitResult result, const std::string& failedPhase = {});

    // The serial numbers still free in the station's block.
    void setSerialsLeft(std::uint64_t count);
    // History rows not yet on the line's server, and how long the oldest has waited.
    void setWaitingRows(std::uint64_t count, double oldestAgeSeconds);
    // History rows the server refused, set aside in the station's own file.
    void setRefusedRows(std::uint64_t count);
    // Whether the station takes new units (false once it drains or halts).
    void setTakingUnits(bool taking);

    MetricsSnapshot snapshot() const { return registry_.snapshot(); }
    std::string render(ExpositionFormat format) const { return renderExposition(snapshot(), format); }

private:
    MetricsRegistry registry_;
};

}  // namespace velmora::metrics
