#pragma once
// What `history report` counts, kept as the runs are written: a line's history
// of a million runs is reported from a few thousand counts rather than read
// again each time. Both stores keep them the same way, by triggers on their
// runs' table (so a row written by any of their writers, the station's file or
// a server's upsert, counts once):
//
//   counts: the runs per day, station, port, origin, operation, result letter
//           and phase log shape, with the first of them in the listing's order;
//   units:  per scanned unit ID and origin, its runs that flash it, and the
//           first of them with its result letter (the unit's first pass).
//
// The expressions here are the one text of each rule the report's statements
// and the triggers share, so what the counts hold and what the runs give agree.
#include <string>

namespace velmora::history {

enum class SqlDialect { Sqlite, Postgres };

// The tables one store keeps: its runs and the two tables of counts.
struct ReportTables {
    const char* runs;
    const char* counts;
    const char* units;
};

inline constexpr ReportTables kFileReportTables{"runs", "report_counts", "report_units"};
inline constexpr ReportTables kServerReportTables{"velmora_runs", "velmora_report_counts",
                                                  "velmora_report_units"};

// Over a run's columns, each prefixed with row ("", "NEW.", "OLD."):
// the result as one letter: 's'uccess, 'f'ailure, 'u'nfinished, 'o' for another
// word (counted as unfinished, but not as a run still going);
std::string resultLetterOf(const std::string& row = {});
// the listing's order (started, then id) as one text that sorts alike in bytes;
std::string listOrderOf(const std::string& row = {});
// the phase log with every digit written as 0 (its shape: "open=0000;erase=00");
std::string phaseShapeOf(const std::string& row = {});
// the day it started (YYYY-MM-DD, UTC).
std::string startDayOf(const std::string& row = {});

// "'update', 'scalar', ...": the operations that flash a unit. A release that
// changes them changes the units' triggers in a layout step of its own.
std::string unitOperationList();

// The tables of counts, the triggers that keep them, and their first counts
// made from the runs already kept: one layout step, in the step's transaction.
std::string reportCountsLayout(SqlDialect dialect, const ReportTables& tables);

}  // namespace velmora::history
