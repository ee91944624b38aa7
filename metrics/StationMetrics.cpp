#include "metrics/StationMetrics.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace velmora::metrics {
namespace {

// The families, in the order they are rendered; the indices name them.
enum Family : std::size_t {
    kUnitsFinished,
    kUnitsInProgress,
    kPhaseDuration,
    kUnitFailures,
    kSerialsLeft,
    kHistoryWaiting,
    kHistoryOldestAge,
    kHistoryRefused,
    kTakingUnits,
    kBuild,
};

std::vector<MetricFamily> stationFamilies() {
    using enum MetricType;
    const std::vector<double> buckets(std::begin(kPhaseBucketsSeconds), std::end(kPhaseBucketsSeconds));
    return {
        {"velmora_station_units_finished",
         "Units the station finished, by port and result.",
         Counter,
         "",
         {"port", "result"},
         {}},
        {"velmora_station_units_in_progress", "Units whose update is running now.", Gauge, "", {}, {}},
        {"velmora_station_phase_duration_seconds",
         "How long each phase of a unit's update took.",
         Histogram,
         "seconds",
         {"phase"},
         buckets},
        {"velmora_station_unit_failures",
         "Failed units, by port and the phase their update failed in.",
         Counter,
         "",
         {"port", "phase"},
         {}},
        {"velmora_station_serial_numbers_left",
         "Serial numbers still free in the station's block.",
         Gauge,
         "",
         {},
         {}},
        {"velmora_history_rows_waiting",
         "History rows not yet sent to the line's server.",
         Gauge,
         "",
         {},
         {}},
        {"velmora_history_oldest_waiting_row_age_seconds",
         "How long the oldest history row not yet on the line's server has waited.",
         Gauge,
         "seconds",
         {},
         {}},
        {"velmora_history_rows_refused",
         "History rows the line's server refused, kept aside in the station's file.",
         Gauge,
         "",
         {},
         {}},
        {"velmora_station_taking_units", "1 while the station takes new units, else 0.", Gauge, "", {}, {}},
        {"velmora_build", "The program's version.", Info, "", {"version"}, {}},
    };
}

// Seconds as the families take them: a clock that stepped back gives no
// negative time, and a broken one no NaN.
double nonNegative(double seconds) {
    return std::isnan(seconds) ? 0 : std::max(seconds, 0.0);
}

const char* resultName(UnitResult result) {
    return result == UnitResult::Passed ? "passed" : "failed";
}

}  // namespace

StationMetrics::StationMetrics(const std::string& stationName, const std::string& programVersion)
    : registry_(stationFamilies(), {{"station", stationName}}) {
    registry_.set(kBuild, {programVersion}, 1);
    registry_.set(kUnitsInProgress, {}, 0);
    registry_.set(kTakingUnits, {}, 0);
}

void StationMetrics::unitStarted(const std::string& port) {
    registry_.add(kUnitsInProgress, {}, 1);
    // Both results of a port exist from its first unit, so a rate over them
    // starts at zero rather than at the first failure.
    registry_.add(kUnitsFinished, {port, resultName(UnitResult::Passed)}, 0);
    registry_.add(kUnitsFinished, {port, resultName(UnitResult::Failed)}, 0);
}

void StationMetrics::phaseEnded(const std::string& phase, double seconds) {
    registry_.observe(kPhaseDuration, {phase}, nonNegative(seconds));
}

void StationMetrics::unitFinished(const std::string& port, UnitResult result,
                                  const std::string& failedPhase) {
    registry_.add(kUnitsInProgress, {}, -1);
    registry_.add(kUnitsFinished, {port, resultName(result)}, 1);
    if (result == UnitResult::Failed)
        registry_.add(kUnitFailures, {port, failedPhase.empty() ? "none" : failedPhase}, 1);
}

void StationMetrics::setSerialsLeft(std::uint64_t count) {
    registry_.set(kSerialsLeft, {}, static_cast<double>(count));
}

void StationMetrics::setWaitingRows(std::uint64_t count, double oldestAgeSeconds) {
    registry_.set(kHistoryWaiting, {}, static_cast<double>(count));
    registry_.set(kHistoryOldestAge, {}, count == 0 ? 0 : nonNegative(oldestAgeSeconds));
}

void StationMetrics::setRefusedRows(std::uint64_t count) {
    registry_.set(kHistoryRefused, {}, static_cast<double>(count));
}

void StationMetrics::setTakingUnits(bool taking) {
    registry_.set(kTakingUnits, {}, taking ? 1 : 0);
}

}  // namespace velmora::metrics
