#pragma once
// What a station tells its figures over a few units: every phase of each unit's
// update, and its verdict. It stands in for the station in the tests of what a
// line's monitoring reads.
#include <string>
#include <utility>
#include <vector>

#include "metrics/StationMetrics.h"

namespace velmora::testing {

// One unit on each port; the one on failingPort fails in its verify phase.
inline void runStandInUnits(metrics::StationMetrics& figures, const std::vector<std::string>& ports,
                            const std::string& failingPort = {}) {
    const std::pair<const char*, double> phases[] = {{"open", 0.04}, {"backup", 1.2}, {"erase", 3.5},
                                                     {"write", 6},   {"read", 2},     {"verify", 0.3},
                                                     {"reset", 14}};
    for (const std::string& port : ports) {
        figures.unitStarted(port);
        bool failed = false;
        for (const auto& [phase, seconds] : phases) {
            figures.phaseEnded(phase, seconds);
            failed = port == failingPort && std::string(phase) == "verify";
            if (failed) break;
        }
        figures.unitFinished(port, failed ? metrics::UnitResult::Failed : metrics::UnitResult::Passed,
                             failed ? "verify" : "");
    }
}

}  // namespace velmora::testing
