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

enum class ReportGrouping { Total, Station, Port, Day, Phase };

// "station", "port", "day", "phase"; nothing for another word.
std::optional<ReportGrouping> reportGroupingNamed(const std::string& name);

struct ReportLine {
    std::string key;        // the station, port, day (YYYY-MM-DD, UTC) or phase; "all" for the total
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

    // passed of the finished runs, 0 to 1; nothing when none finished.
    std::optional<double> yield() const;
};

// Runs of a bench's hubs (simulated, testbed) count only when withOrigins is
// set. By phase, a line's units are the units that reached the phase, passed
// those that went on from it (or ended well in it), failed those that failed in it.
std::vector<ReportLine> buildReport(const std::vector<HistoryRecord>& runs, ReportGrouping by,
                                    bool withOrigins);

}  // namespace velmora::history
