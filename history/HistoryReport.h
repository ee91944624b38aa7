#pragma once
// A line's view of its history: how many units, how many passed and failed, the
// yield, and in which phase the failures came, in total or per station, port,
// day or phase. A unit is a run that flashes one (workflows/RunOperation.h:
// flashesUnit); reads, erases and verifies are counted apart. Worked out from
// the rows alone, so both stores give the same: each counts it itself
// (reportFrom), and buildReport is the same rules over rows in memory.
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/ReportCounts.h"

namespace velmora::history {

enum class ReportGrouping { Total, Station, Port, Day, Phase, Unit };

// "station", "port", "day", "phase", "unit"; nothing for another word.
std::optional<ReportGrouping> reportGroupingNamed(const std::string& name);

// The names of the phases a row's log went through, as the report counts them:
// a log of another program's phases counts as one phase named by the whole text.
std::vector<std::string> reportPhaseNames(const std::string& phases);

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

// What `history report` asks a store: the runs the filter selects, grouped by.
struct ReportRequest {
    HistoryFilter filter;
    ReportGrouping by = ReportGrouping::Total;
    bool withOrigins = false;  // a bench's runs (simulated, testbed) count too
};

// One row of a report's statement: its columns as text, none for NULL.
using ReportRow = std::vector<std::optional<std::string>>;

// A store's side of the report: the same statements run in the station's file
// and on a server, all within one snapshot of the history.
class ReportSource {
public:
    virtual ~ReportSource() = default;
    // The runs' table and the counts kept of them.
    virtual ReportTables tables() const = 0;
    // The phase log with every digit written as 0: its shape
    // ("open=0000;erase=00;write"). Logs that differ only in their times (nearly
    // every run's) share one, so the store groups by a few shapes rather than by
    // a million texts. The same text the counts keep (phaseShapeOf); a store may
    // say it its own quicker way.
    virtual std::string phaseShape() const;
    // Runs sql, whose parameters are $1, $2, ... (parameters[0] is $1), and
    // hands each row to row as it comes.
    virtual bool query(const std::string& sql, const std::vector<std::string>& parameters,
                       const std::function<void(const ReportRow&)>& row, std::string& error) = 0;
};

// The report buildReport gives, line for line, counted by the store itself:
// only the lines come back, never the runs.
std::optional<std::vector<ReportLine>> reportFrom(ReportSource& source, const ReportRequest& request,
                                                  std::string& error);

}  // namespace velmora::history
