// `history report` counted by the store that keeps the runs: the same SQL in the
// station's SQLite file and on a line's PostgreSQL server (the file's connection
// adds the two pieces of PostgreSQL the statements use, translate() and the "C"
// collation: history/HistoryReportSqlite.h), so each rule of the report has one
// text, over the counts both keep as the runs are written (history/ReportCounts.h)
// wherever those answer. Only the report's lines come back; the rules are
// buildReport's, and its tests hold both stores to its lines.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/IsoTime.h"
#include "history/HistoryReport.h"
#include "history/PhaseLog.h"
#include "history/ReportCounts.h"
#include "workflows/RunOperation.h"

namespace velmora::history {
namespace {

std::string quoted(const char* word) {
    return std::string("'") + word + "'";
}

// A shape longer than this many zeros in a row may hold a time too large for
// the log (a 19-digit number), so its rows' own texts are read.
constexpr std::size_t kLongestSafeTime = 18;

// "YYYY-MM-DD" of the day after day's; nothing for a text that is no day.
std::optional<std::string> dayAfter(const std::string& day) {
    if (day.size() != 10) return std::nullopt;
    const std::optional<WallTime> start = parseIsoTime(day + "T00:00:00.000Z");
    if (!start) return std::nullopt;
    return isoUtc(*start + std::chrono::hours(24)).substr(0, 10);
}

// Where a request's runs are counted from. The counts kept as the runs are
// written answer every request whose filter they can tell (a since inside a
// day takes that day from its runs); a serial, a unit ID or the lines per unit
// are counted from the runs themselves.
class Selection {
public:
    // runsOnly: for a statement over the runs alone, whatever the counts answer.
    explicit Selection(const ReportRequest& request, bool runsOnly = false) {
        const HistoryFilter& filter = request.filter;
        std::string kept;  // the counts' own conditions
        const auto both = [&](const char* column, const std::string& value) {
            const std::string named = parameter(value);
            runsWhere_ += std::string(" AND ") + column + " = " + named;
            kept += std::string(" AND ") + column + " = " + named;
        };
        if (!filter.since.empty()) runsWhere_ += " AND started >= " + parameter(filter.since);
        if (!filter.port.empty()) both("port", filter.port);
        if (!filter.station.empty()) both("station", filter.station);
        if (!filter.serial.empty()) {
            // A unit is found by the serial its image gave it or the one it reported.
            const std::string serial = parameter(filter.serial);
            runsWhere_ += " AND (hub_serial = " + serial + " OR image_serial = " + serial + ")";
        }
        if (filter.origin) both("origin", *filter.origin);
        if (!request.withOrigins) {
            runsWhere_ += " AND origin = ''";
            kept += " AND origin = ''";
        }
        if (!filter.unitId.empty()) runsWhere_ += " AND unit_id = " + parameter(filter.unitId);
        const std::string sinceDay = filter.since.substr(0, 10);
        const std::optional<std::string> next = dayAfter(sinceDay);
        counted_ = !runsOnly && filter.serial.empty() && filter.unitId.empty() &&
                   request.by != ReportGrouping::Unit && (filter.since.empty() || next);
        if (!counted_) return;
        countsWhere_ = kept;
        if (!filter.since.empty()) {
            // The days after since's from the counts, its own day from its runs:
            // the runs whose day is not after it, so that a start no calendar has
            // ("2026-11-31", between since's day and the next) counts once. The
            // start before the next day only bounds the index's range.
            const std::string day = parameter(sinceDay);
            countsWhere_ += " AND day > " + day;
            sinceDayWhere_ =
                runsWhere_ + " AND started < " + parameter(*next) + " AND " + startDayOf() + " <= " + day;
        }
        firstPassesKept_ = filter.since.empty() && filter.port.empty() && filter.station.empty() &&
                           !filter.origin && !request.withOrigins;
    }

    // " WHERE ..." of the runs the request selects.
    std::string runsWhere() const { return " WHERE 1 = 1" + runsWhere_; }
    // Whether the counts answer the request; and for the units' first passes.
    bool counted() const { return counted_; }
    bool firstPassesKept() const { return counted_ && firstPassesKept_; }
    // " WHERE ..." of the counts that answer it, and of the runs of since's day (none without since).
    std::string countsWhere() const { return " WHERE 1 = 1" + countsWhere_; }
    std::optional<std::string> sinceDayWhere() const {
        if (sinceDayWhere_.empty()) return std::nullopt;
        return " WHERE 1 = 1" + sinceDayWhere_;
    }
    const std::vector<std::string>& parameters() const { return parameters_; }
    // "$n" for one more value.
    std::string parameter(const std::string& value) {
        parameters_.push_back(value);
        return "$" + std::to_string(parameters_.size());
    }

private:
    std::string runsWhere_;
    std::string countsWhere_;
    std::string sinceDayWhere_;
    bool counted_ = false;
    bool firstPassesKept_ = false;
    std::vector<std::string> parameters_;
};

// The key of a line, over the groups of runs (groupsOf) or over the runs.
std::string keyColumn(ReportGrouping by, bool overRuns) {
    switch (by) {
        case ReportGrouping::Station: return "station";
        case ReportGrouping::Port: return "port";
        case ReportGrouping::Day: return overRuns ? startDayOf() : "day";
        case ReportGrouping::Unit: return "unit_id";
        case ReportGrouping::Total:
        case ReportGrouping::Phase: break;
    }
    return "'all'";
}

std::uint64_t number(const std::optional<std::string>& column) {
    return column ? std::stoull(*column) : 0;
}

// The phases' names a shape stands for; none when the shape does not tell them
// (a log this program did not write, whose own text is its phase's name, or a
// time that may not be a number the log takes): its runs' own texts are read.
std::optional<std::vector<std::string>> phasesOfShape(const std::string& shape) {
    if (shape.find('-') != std::string::npos) return std::nullopt;  // "-0" is a time, "-1" is not
    std::string times;  // each run of zeros as one: a time of any length below the limit
    std::size_t zeros = 0;
    for (const char c : shape) {
        zeros = c == '0' ? zeros + 1 : 0;
        if (zeros > kLongestSafeTime) return std::nullopt;
        if (zeros <= 1) times += c;
    }
    if (!PhaseLog::parse(times)) return std::nullopt;
    return reportPhaseNames(times);
}

class StoreReport {
public:
    StoreReport(ReportSource& source, const ReportRequest& request)
        : source_(source),
          request_(request),
          tables_(source.tables()),
          units_(unitOperationList()),
          shape_(source.phaseShape()) {}

    std::optional<std::vector<ReportLine>> build(std::string& error) {
        const bool firstPasses = request_.by == ReportGrouping::Total || request_.by == ReportGrouping::Unit;
        const bool counted =
            request_.by == ReportGrouping::Phase
                ? countPhases(error)
                : countLines(error) && countFailures(error) && (!firstPasses || countFirstPasses(error));
        if (!counted) return std::nullopt;
        std::vector<ReportLine> report;
        if (request_.by == ReportGrouping::Phase) {
            for (const std::string& phase : phaseOrder_) report.push_back(std::move(lines_[phase]));
        } else {
            for (auto& [key, line] : lines_) report.push_back(std::move(line));
        }
        if (request_.by == ReportGrouping::Total && report.empty()) report.emplace_back().key = "all";
        return report;
    }

private:
    // The rows the request selects, with their parameters: the counts where
    // they answer, or the runs alone.
    Selection selected() const { return Selection(request_); }
    Selection selectedRuns() const { return Selection(request_, true); }
    std::string runsOf(const Selection& selection) const {
        std::string sql = std::string(" FROM ") + tables_.runs + selection.runsWhere();
        if (request_.by == ReportGrouping::Unit) sql += " AND unit_id IS NOT NULL";
        return sql;
    }
    std::string unitsOnly() const { return " AND operation IN (" + units_ + ")"; }

    // What a statement reads of the groups besides their key, operation, result and count.
    enum class Columns { Counts, Shapes, ShapesAndFirstRuns };

    // The selected runs as groups, each with its line's key, operation, result
    // letter and count (and as asked, its phase log shape and its first run in
    // the listing's order): from the counts kept where they answer (since's own
    // day from its runs), else from the runs, each a group of one that the
    // statement's own GROUP BY gathers (the databases fold such a subquery into
    // the statement, so a filter on it applies before any grouping).
    std::string groupsOf(const Selection& selection, Columns columns) const {
        const bool shapes = columns != Columns::Counts;
        const bool firstRuns = columns == Columns::ShapesAndFirstRuns;
        const auto fromRuns = [&](const std::string& where) {
            return "SELECT " + keyColumn(request_.by, true) + " AS key, operation, " + resultLetterOf() +
                   " AS result, 1 AS runs" + (shapes ? ", " + shape_ + " AS shape" : "") +
                   (firstRuns ? ", " + listOrderOf() + " COLLATE \"C\" AS first_run" : "") + " FROM " +
                   tables_.runs + where +
                   (request_.by == ReportGrouping::Unit ? " AND unit_id IS NOT NULL" : "");
        };
        if (!selection.counted()) return "(" + fromRuns(selection.runsWhere()) + ") AS grouped";
        std::string sql = "(SELECT " + keyColumn(request_.by, false) + " AS key, operation, result, runs" +
                          (shapes ? ", shape" : "") + (firstRuns ? ", first_run" : "") + " FROM " +
                          tables_.counts + selection.countsWhere();
        if (const std::optional<std::string> sinceDay = selection.sinceDayWhere())
            sql += " UNION ALL " + fromRuns(*sinceDay);
        return sql + ") AS grouped";
    }

    // " AND <shape> IN ($n, ...)": the rows of those shapes only; nothing for none.
    std::string shapesOnly(Selection& selection, const std::vector<std::string>* shapes) const {
        if (shapes == nullptr) return {};
        std::string list;
        for (const std::string& shape : *shapes)
            list += (list.empty() ? "" : ", ") + selection.parameter(shape);
        return " AND " + shape_ + " IN (" + list + ")";
    }

    // Runs query for the shapes a few hundred at a time: a history of many odd
    // logs costs a few more statements, not one per shape.
    template <class Query>
    static bool forShapes(const std::set<std::string>& shapes, const Query& query, std::string& error) {
        constexpr std::size_t kShapesPerStatement = 500;
        std::vector<std::string> batch;
        for (auto shape = shapes.begin(); shape != shapes.end(); ++shape) {
            batch.push_back(*shape);
            if (batch.size() == kShapesPerStatement || std::next(shape) == shapes.end()) {
                if (!query(&batch, error)) return false;
                batch.clear();
            }
        }
        return true;
    }

    ReportLine& line(const std::string& key) {
        ReportLine& found = lines_[key];
        found.key = key;
        return found;
    }

    // Every group's units, results, and the runs counted apart.
    bool countLines(std::string& error) {
        const Selection selection = selected();
        const std::string unit = "operation IN (" + units_ + ")";
        const auto count = [](const std::string& condition) {
            return ", sum(CASE WHEN " + condition + " THEN runs ELSE 0 END)";
        };
        // In total, one row of sums without a GROUP BY (so no key column).
        const bool total = request_.by == ReportGrouping::Total;
        std::string sql = std::string("SELECT ") + (total ? "'all'" : "key") + count(unit) +
                          count(unit + " AND result = 's'") + count(unit + " AND result = 'f'");
        for (const RunOperation apart : {RunOperation::Read, RunOperation::Erase, RunOperation::Verify})
            sql += count("operation = " + quoted(runOperationName(apart)));
        sql += " FROM " + groupsOf(selection, Columns::Counts) + (total ? "" : " GROUP BY 1") + ";";
        return source_.query(
            sql, selection.parameters(),
            [this](const ReportRow& row) {
                // Without a GROUP BY, no rows still give one row of NULL sums.
                if (request_.by == ReportGrouping::Total && !row[1]) return;
                ReportLine& counted = line(row[0].value_or(""));
                counted.units += number(row[1]);
                counted.passed += number(row[2]);
                counted.failed += number(row[3]);
                counted.unfinished += number(row[1]) - number(row[2]) - number(row[3]);
                counted.reads += number(row[4]);
                counted.erases += number(row[5]);
                counted.verifies += number(row[6]);
            },
            error);
    }

    // The failed units by the phase they failed in: grouped by the shape of
    // their phase logs, and by their own texts where a shape does not tell.
    bool countFailures(std::string& error) {
        std::set<std::string> unclear;
        const auto counted = [this, &unclear](const ReportRow& row, bool ownText) {
            const std::string& phases = row[1].value_or("");
            std::optional<std::vector<std::string>> names =
                ownText ? reportPhaseNames(phases) : phasesOfShape(phases);
            if (!names) {
                unclear.insert(phases);
                return;
            }
            line(row[0].value_or("")).failuresByPhase[names->empty() ? std::string{} : names->back()] +=
                number(row[2]);
        };
        const auto failed = [&](const std::vector<std::string>* shapes, std::string& failure) {
            Selection selection = shapes == nullptr ? selected() : selectedRuns();
            const std::string sql =
                shapes == nullptr
                    ? "SELECT key, shape, sum(runs) FROM " + groupsOf(selection, Columns::Shapes) +
                          " WHERE operation IN (" + units_ + ") AND result = 'f'"
                    : "SELECT " + keyColumn(request_.by, true) + ", phases, count(*)" + runsOf(selection) +
                          unitsOnly() + " AND result = " + quoted(kResultFailure) +
                          shapesOnly(selection, shapes);
            return source_.query(
                sql + " GROUP BY 1, 2;", selection.parameters(),
                [&](const ReportRow& row) { counted(row, shapes != nullptr); }, failure);
        };
        return failed(nullptr, error) && forShapes(unclear, failed, error);
    }

    // A unit's first pass is its first run's result (in the listing's order): a
    // run cut off counts as failed once another followed it, and not at all while
    // it is the only one. The units' own counts answer for the whole line; a
    // selection counts each unit's runs with their lowest and highest result
    // letter: alike, they are the first run's; only a unit whose runs differ
    // looks its first run up (by the unit's index).
    bool countFirstPasses(std::string& error) {
        const bool kept = selected().firstPassesKept();
        const Selection selection = kept ? selected() : selectedRuns();
        // In total, the units' sum (one row, even of none); by unit, a row each.
        const bool byUnit = request_.by == ReportGrouping::Unit;
        const auto counted = [byUnit](const std::string& each) {
            return byUnit ? each : "sum(" + each + ")";
        };
        std::string sql;
        if (kept) {
            sql = "SELECT 'all', " + counted("CASE WHEN runs = 1 AND first_result = 'u' THEN 0 ELSE 1 END") +
                  ", " + counted("CASE WHEN first_result = 's' THEN 1 ELSE 0 END") + " FROM " +
                  tables_.units + " WHERE origin = '';";
        } else {
            const std::string runsOfUnits = runsOf(selection) + unitsOnly() + " AND unit_id IS NOT NULL";
            const std::string first = "CASE WHEN lowest = highest THEN lowest ELSE (SELECT " +
                                      resultLetterOf() + runsOfUnits +
                                      " AND unit_id = units.unit_id ORDER BY started, id LIMIT 1) END";
            sql = "SELECT " + std::string(byUnit ? "unit_id" : "'all'") + ", " +
                  counted("CASE WHEN runs = 1 AND lowest = 'u' THEN 0 ELSE 1 END") + ", " +
                  counted("CASE WHEN " + first + " = 's' THEN 1 ELSE 0 END") +
                  " FROM (SELECT unit_id, count(*) AS runs, min(" + resultLetterOf() + ") AS lowest, max(" +
                  resultLetterOf() + ") AS highest" + runsOfUnits + " GROUP BY unit_id) AS units;";
        }
        return source_.query(
            sql, selection.parameters(),
            [this](const ReportRow& row) {
                if (!row[1]) return;  // in total, no units
                ReportLine& line = this->line(row[0].value_or(""));
                line.firstPassUnits += number(row[1]);
                line.firstPassed += number(row[2]);
            },
            error);
    }

    // By phase: each phase a unit reached passed when a later one started, or
    // counts as the run ended when it is the last. The phases come in the order
    // the runs met them: the groups by their first run, each in its log's order.
    bool countPhases(std::string& error) {
        struct Group {
            std::string order;  // the group's first run, in the listing's order
            std::vector<std::string> phases;
            char result;
            std::uint64_t runs;
        };
        std::vector<Group> groups;
        std::set<std::string> unclear;
        const auto phases = [&](const std::vector<std::string>* shapes, std::string& failed) {
            Selection selection = shapes == nullptr ? selected() : selectedRuns();
            const std::string sql = shapes == nullptr
                                        ? "SELECT shape, result, sum(runs), min(first_run) FROM " +
                                              groupsOf(selection, Columns::ShapesAndFirstRuns) +
                                              " WHERE operation IN (" + units_ + ")"
                                        : "SELECT phases, " + resultLetterOf() + ", count(*), min(" +
                                              listOrderOf() + " COLLATE \"C\")" + runsOf(selection) +
                                              unitsOnly() + shapesOnly(selection, shapes);
            return source_.query(
                sql + " GROUP BY 1, 2;", selection.parameters(),
                [&](const ReportRow& row) {
                    const std::string& text = row[0].value_or("");
                    std::optional<std::vector<std::string>> names =
                        shapes ? reportPhaseNames(text) : phasesOfShape(text);
                    if (!names) {
                        unclear.insert(text);
                        return;
                    }
                    groups.push_back(
                        {row[3].value_or(""), std::move(*names), row[1].value_or("u")[0], number(row[2])});
                },
                failed);
        };
        if (!phases(nullptr, error) || !forShapes(unclear, phases, error)) return false;
        std::stable_sort(groups.begin(), groups.end(),
                         [](const Group& a, const Group& b) { return a.order < b.order; });
        for (const Group& group : groups) {
            for (std::size_t index = 0; index < group.phases.size(); ++index) {
                const std::string& name = group.phases[index];
                if (lines_.find(name) == lines_.end()) phaseOrder_.push_back(name);
                ReportLine& counted = line(name);
                counted.units += group.runs;
                const bool last = index + 1 == group.phases.size();
                if (!last || group.result == 's') {
                    counted.passed += group.runs;
                } else if (group.result == 'f') {
                    counted.failed += group.runs;
                    counted.failuresByPhase[name] += group.runs;
                } else {
                    counted.unfinished += group.runs;
                }
            }
        }
        return true;
    }

    ReportSource& source_;
    const ReportRequest& request_;
    const ReportTables tables_;
    const std::string units_;
    const std::string shape_;  // the phase log's shape (ReportSource::phaseShape)
    std::map<std::string, ReportLine> lines_;
    std::vector<std::string> phaseOrder_;  // by phase: as the runs met them
};

}  // namespace

std::string ReportSource::phaseShape() const {
    return phaseShapeOf();
}

std::optional<std::vector<ReportLine>> reportFrom(ReportSource& source, const ReportRequest& request,
                                                  std::string& error) {
    return StoreReport(source, request).build(error);
}

}  // namespace velmora::history
