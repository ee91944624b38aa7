// `history report` counted by the store that keeps the runs: the same SQL in the
// station's SQLite file and on a line's PostgreSQL server (the file's connection
// adds the two pieces of PostgreSQL the statements use, translate() and the "C"
// collation: history/HistoryReportSqlite.h), so each rule of the report has one
// text. Only the report's lines come back; the rules are buildReport's, and its
// tests hold both stores to its lines.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "history/HistoryReport.h"
#include "history/PhaseLog.h"
#include "workflows/RunOperation.h"

namespace velmora::history {
namespace {

// The order a listing gives the runs (started, then id) as one text that sorts
// alike in bytes: the start padded, then the id right-aligned. Compared in
// bytes ("C") on every server, whatever its own collation.
constexpr const char* kListOrder = "format('%-40s%20s', started, id)";

// A word of the history's as an SQL literal (none holds a quote).
std::string quoted(const char* word) {
    return std::string("'") + word + "'";
}

// A run's result as one letter: 's'uccess, 'f'ailure, 'u'nfinished, 'o' for
// another word (counted as unfinished, but not as a run still going).
const std::string kResultLetter = "CASE result WHEN " + quoted(kResultSuccess) + " THEN 's' WHEN " +
                                  quoted(kResultFailure) + " THEN 'f' WHEN " + quoted(kResultUnfinished) +
                                  " THEN 'u' ELSE 'o' END";

// A shape longer than this many zeros in a row may hold a time too large for
// the log (a 19-digit number), so its rows' own texts are read.
constexpr std::size_t kLongestSafeTime = 18;

// "'update', 'scalar', ...": the operations that flash a unit.
std::string unitOperations() {
    std::string list;
    for (int value = 0;; ++value) {
        const auto operation = static_cast<RunOperation>(value);
        const char* name = runOperationName(operation);
        if (std::string(name) == "?") break;
        if (flashesUnit(operation)) list += (list.empty() ? "" : ", ") + quoted(name);
    }
    return list;
}

// The WHERE clause the request's filter makes, its values in parameters.
class Selection {
public:
    explicit Selection(const ReportRequest& request) {
        const HistoryFilter& filter = request.filter;
        if (!filter.since.empty()) add("started >= ", filter.since);
        if (!filter.port.empty()) add("port = ", filter.port);
        if (!filter.station.empty()) add("station = ", filter.station);
        if (!filter.serial.empty()) {
            // A unit is found by the serial its image gave it or the one it reported.
            const std::string serial = parameter(filter.serial);
            where_ += " AND (hub_serial = " + serial + " OR image_serial = " + serial + ")";
        }
        if (filter.origin) add("origin = ", *filter.origin);
        if (!request.withOrigins) where_ += " AND origin = ''";
        if (!filter.unitId.empty()) add("unit_id = ", filter.unitId);
    }

    const std::string& where() const { return where_; }
    const std::vector<std::string>& parameters() const { return parameters_; }
    // "$n" for one more value.
    std::string parameter(const std::string& value) {
        parameters_.push_back(value);
        return "$" + std::to_string(parameters_.size());
    }

private:
    void add(const char* condition, const std::string& value) {
        where_ += std::string(" AND ") + condition + parameter(value);
    }

    std::string where_ = " WHERE 1 = 1";
    std::vector<std::string> parameters_;
};

std::string keyColumn(ReportGrouping by) {
    switch (by) {
        case ReportGrouping::Station: return "station";
        case ReportGrouping::Port: return "port";
        case ReportGrouping::Day: return "substr(started, 1, 10)";
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
          table_(source.table()),
          units_(unitOperations()),
          shape_(source.digitsAsZero("phases")) {}

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
    // The rows the request selects, with their parameters.
    Selection selected() const { return Selection(request_); }
    std::string from(const Selection& selection) const {
        std::string sql = std::string(" FROM ") + table_ + selection.where();
        if (request_.by == ReportGrouping::Unit) sql += " AND unit_id IS NOT NULL";
        return sql;
    }
    std::string unitsOnly() const { return " AND operation IN (" + units_ + ")"; }

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
        const auto count = [](const std::string& condition) {
            return ", SUM(CASE WHEN " + condition + " THEN 1 ELSE 0 END)";
        };
        const std::string unit = "operation IN (" + units_ + ")";
        std::string sql = "SELECT " + keyColumn(request_.by) + count(unit) +
                          count(unit + " AND result = " + quoted(kResultSuccess)) +
                          count(unit + " AND result = " + quoted(kResultFailure));
        for (const RunOperation apart : {RunOperation::Read, RunOperation::Erase, RunOperation::Verify})
            sql += count("operation = " + quoted(runOperationName(apart)));
        sql += from(selection) + (request_.by == ReportGrouping::Total ? "" : " GROUP BY 1") + ";";
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
        const auto failures = [&](const std::vector<std::string>* shapes, std::string& failed) {
            Selection selection = selected();
            const std::string sql = "SELECT " + keyColumn(request_.by) + ", " + (shapes ? "phases" : shape_) +
                                    ", COUNT(*)" + from(selection) + unitsOnly() +
                                    " AND result = " + quoted(kResultFailure) + shapesOnly(selection, shapes);
            return source_.query(
                sql + " GROUP BY 1, 2;", selection.parameters(),
                [&](const ReportRow& row) { counted(row, shapes != nullptr); }, failed);
        };
        return failures(nullptr, error) && forShapes(unclear, failures, error);
    }

    // A unit's first pass is its first run's result (in the listing's order): a
    // run cut off counts as failed once another followed it, and not at all while
    // it is the only one. Each unit's runs are counted with their lowest and
    // highest result letter: alike, they are the first run's; only a unit whose
    // runs differ looks its first run up (by the unit's index).
    bool countFirstPasses(std::string& error) {
        const Selection selection = selected();
        // In total, the units' sum (one row, even of none); by unit, a row each.
        const bool byUnit = request_.by == ReportGrouping::Unit;
        const auto counted = [byUnit](const std::string& each) {
            return byUnit ? each : "SUM(" + each + ")";
        };
        const std::string runsOfUnits = from(selection) + unitsOnly() + " AND unit_id IS NOT NULL";
        const std::string first = "CASE WHEN lowest = highest THEN lowest ELSE (SELECT " + kResultLetter +
                                  runsOfUnits +
                                  " AND unit_id = units.unit_id ORDER BY started, id LIMIT 1) END";
        const std::string sql = "SELECT " + std::string(byUnit ? "unit_id" : "'all'") + ", " +
                                counted("CASE WHEN runs = 1 AND lowest = 'u' THEN 0 ELSE 1 END") + ", " +
                                counted("CASE WHEN " + first + " = 's' THEN 1 ELSE 0 END") +
                                " FROM (SELECT unit_id, COUNT(*) AS runs, MIN(" + kResultLetter +
                                ") AS lowest, MAX(" + kResultLetter + ") AS highest" + runsOfUnits +
                                " GROUP BY unit_id) AS units;";
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
            std::string order;  // the group's first run, as kListOrder gives it
            std::vector<std::string> phases;
            char result;
            std::uint64_t runs;
        };
        std::vector<Group> groups;
        std::set<std::string> unclear;
        const auto phases = [&](const std::vector<std::string>* shapes, std::string& failed) {
            Selection selection = selected();
            const std::string sql = "SELECT " + std::string(shapes ? "phases" : shape_) + ", " +
                                    kResultLetter + ", COUNT(*), MIN(" + kListOrder + " COLLATE \"C\")" +
                                    from(selection) + unitsOnly() + shapesOnly(selection, shapes);
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
    const char* table_;
    const std::string units_;
    const std::string shape_;  // the phase log's shape (ReportSource::digitsAsZero)
    std::map<std::string, ReportLine> lines_;
    std::vector<std::string> phaseOrder_;  // by phase: as the runs met them
};

}  // namespace

std::string ReportSource::digitsAsZero(const std::string& column) const {
    return "translate(" + column + ", '0123456789', '0000000000')";
}

std::optional<std::vector<ReportLine>> reportFrom(ReportSource& source, const ReportRequest& request,
                                                  std::string& error) {
    return StoreReport(source, request).build(error);
}

}  // namespace velmora::history
