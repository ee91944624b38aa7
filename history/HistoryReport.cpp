#include "history/HistoryReport.h"

#include <utility>

#include "history/PhaseLog.h"
#include "workflows/RunOperation.h"

namespace velmora::history {
namespace {

// True for a unit; a run that flashes nothing is counted apart on line (an
// operation this program does not know, nowhere).
bool isUnit(ReportLine& line, const HistoryRecord& run) {
    const std::optional<RunOperation> operation = runOperationNamed(run.operation);
    if (!operation) return false;
    if (flashesUnit(*operation)) return true;
    if (*operation == RunOperation::Read) ++line.reads;
    if (*operation == RunOperation::Erase) ++line.erases;
    if (*operation == RunOperation::Verify) ++line.verifies;
    return false;
}

void count(ReportLine& line, const HistoryRecord& run, const std::string& lastPhase) {
    ++line.units;
    if (run.result == kResultSuccess) {
        ++line.passed;
    } else if (run.result == kResultFailure) {
        ++line.failed;
        ++line.failuresByPhase[lastPhase];
    } else {
        ++line.unfinished;
    }
}

// Each phase a run reached: passed when a later one started or the run ended
// well, else as the run ended.
void countPhases(std::map<std::string, ReportLine>& lines, std::vector<std::string>& order,
                 const HistoryRecord& run, const std::vector<std::string>& phases) {
    for (std::size_t index = 0; index < phases.size(); ++index) {
        auto [entry, added] = lines.try_emplace(phases[index]);
        if (added) order.push_back(phases[index]);
        ReportLine& line = entry->second;
        line.key = phases[index];
        if (index + 1 < phases.size()) {
            ++line.units;
            ++line.passed;
        } else {
            count(line, run, phases[index]);
        }
    }
}

std::string keyOf(const HistoryRecord& run, ReportGrouping by) {
    switch (by) {
        case ReportGrouping::Station: return run.station;
        case ReportGrouping::Port: return run.port;
        case ReportGrouping::Day: return run.started.substr(0, 10);
        case ReportGrouping::Unit: return run.unitId.value_or("");
        case ReportGrouping::Total:
        case ReportGrouping::Phase: break;
    }
    return "all";
}

}  // namespace

std::vector<std::string> reportPhaseNames(const std::string& phases) {
    const std::optional<PhaseLog> log = PhaseLog::parse(phases);
    if (!log) return {phases};
    std::vector<std::string> names;
    for (const PhaseEntry& entry : log->entries()) names.emplace_back(runPhaseName(entry.phase));
    return names;
}

std::optional<ReportGrouping> reportGroupingNamed(const std::string& name) {
    if (name == "station") return ReportGrouping::Station;
    if (name == "port") return ReportGrouping::Port;
    if (name == "day") return ReportGrouping::Day;
    if (name == "phase") return ReportGrouping::Phase;
    if (name == "unit") return ReportGrouping::Unit;
    return std::nullopt;
}

std::optional<double> ReportLine::yield() const {
    const std::size_t finished = passed + failed;
    if (finished == 0) return std::nullopt;
    return static_cast<double>(passed) / static_cast<double>(finished);
}

std::optional<double> ReportLine::firstPassYield() const {
    if (firstPassUnits == 0) return std::nullopt;
    return static_cast<double>(firstPassed) / static_cast<double>(firstPassUnits);
}

namespace {

// A unit's first pass is its first run's result: a run cut off counts as failed
// once another run followed it, and as still going while it is the only one.
void countFirstPasses(std::map<std::string, ReportLine>& lines, const std::vector<HistoryRecord>& runs,
                      ReportGrouping by, bool withOrigins) {
    std::map<std::string, const HistoryRecord*> first;
    std::map<std::string, bool> followed;
    for (const HistoryRecord& run : runs) {
        if (!run.unitId || (!withOrigins && !run.origin.empty())) continue;
        const std::optional<RunOperation> operation = runOperationNamed(run.operation);
        if (!operation || !flashesUnit(*operation)) continue;
        if (!first.try_emplace(*run.unitId, &run).second) followed[*run.unitId] = true;
    }
    for (const auto& [unit, run] : first) {
        if (run->result == kResultUnfinished && !followed[unit]) continue;
        const std::string key = by == ReportGrouping::Unit ? unit : "all";
        ReportLine& line = lines[key];
        line.key = key;
        ++line.firstPassUnits;
        if (run->result == kResultSuccess) ++line.firstPassed;
    }
}

}  // namespace

std::vector<ReportLine> buildReport(const std::vector<HistoryRecord>& runs, ReportGrouping by,
                                    bool withOrigins) {
    std::map<std::string, ReportLine> lines;
    std::vector<std::string> phaseOrder;  // phases as the runs met them, not by name
    for (const HistoryRecord& run : runs) {
        if (!withOrigins && !run.origin.empty()) continue;
        const std::vector<std::string> phases = reportPhaseNames(run.phases);
        if (by == ReportGrouping::Phase) {
            ReportLine apart;  // by phase, only units
            if (isUnit(apart, run)) countPhases(lines, phaseOrder, run, phases);
            continue;
        }
        if (by == ReportGrouping::Unit && !run.unitId) continue;
        const std::string key = keyOf(run, by);
        ReportLine& line = lines[key];
        line.key = key;
        if (isUnit(line, run)) count(line, run, phases.empty() ? std::string{} : phases.back());
    }
    if (by == ReportGrouping::Total || by == ReportGrouping::Unit)
        countFirstPasses(lines, runs, by, withOrigins);
    std::vector<ReportLine> report;
    if (by == ReportGrouping::Phase) {
        for (const std::string& phase : phaseOrder) report.push_back(std::move(lines[phase]));
    } else {
        for (auto& [key, line] : lines) report.push_back(std::move(line));
    }
    if (by == ReportGrouping::Total && report.empty()) report.emplace_back().key = "all";
    return report;
}

}  // namespace velmora::history
