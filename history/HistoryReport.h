#pragma once
// A line's view of its history: how many units, how many passed and failed, the
// yield, and in which phase the failures came, in total or per station, port,
// day or phase. A unit is a run that flashes one (workflows/RunOperation.h:
// flashesUnit); reads, erases and verifies are counted apart. Worked out from
// the rows alone, so both stores give the same.
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"

namespace velmora::history {

enum class ReportGrouping { Total, Station, Port, Day, Phase, Unit };

// "station", "port", "day", "phase", "unit"; nothing for another word.
std::optional<ReportGrouping> reportGroupingNamed(const std::string& name);

struct ReportLine {
    // The station, port, day (YYYY-MM-DD, UTC), phase or unit ID; "all" for the total.
    std::string key;
    std::size_t units = 0;  // the runs that flash a unit
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t unfinished = 0;
    // Failed units by the phase they failed in ("" when they failed before the first).
    std::map<std::string, std::size_t> failuresByPhase;
    // The runs that flash nothing, counted apart (none by phase).
    std::size_t reads = 0;
    std::size_t erases = 0;
    std::size_t verifies = 0;

    // The units with a scanned ID whose first run is over, and those of them
    // whose first run passed: a unit that failed and later passed failed its
    // first pass. Per unit ID, each is 0 or 1.
    std::size_t firstPassUnits = 0;
    std::size_t firstPassed = 0;

    // passed of the finished runs, 0 to 1; nothing when none finished.
    std::optional<double> yield() const;
    // firstPassed of firstPassUnits; nothing when there are none.
    std::optional<double> firstPassYield() const;
};

// Runs of a bench's hubs (simulated, testbed) count only when withOrigins is
// set; runs come oldest first (as a listing gives them). By unit, only the runs
// of units with an ID count; in total, the first pass counts units with an ID. By phase, a line's units are
// the units that reached the phase, passed those that went on from it (or ended well in it), failed those
// that failed in it.
std::vector<ReportLine> buildReport(const std::vector<HistoryRecord>& runs, ReportGrouping by,
                                    bool withOrigins);

}  // namespace velmora::history
