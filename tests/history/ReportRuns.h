#pragma once
// Runs of every kind a report meets, for holding a store's report to the one
// buildReport makes of the same rows: units and the runs counted apart, every
// result, phase logs of this program and of others (bad times, too long,
// "-0", unknown phases), units run again, runs started at the same moment,
// bench runs, several stations (one named with a byte that is no UTF-8), ports and days.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/HistoryReport.h"
#include "history/HistoryStore.h"

namespace velmora::testing {

// A layout back to before the report's counts were kept: the file's and the server's.
inline constexpr const char* kWithoutReportCounts =
    "DROP TRIGGER report_counts_inserted; DROP TRIGGER report_counts_deleted;"
    " DROP TRIGGER report_counts_updated; DROP TABLE report_counts; DROP TABLE report_units;";
inline constexpr const char* kServerWithoutReportCounts =
    "DROP FUNCTION IF EXISTS velmora_report_counts_kept CASCADE; DROP INDEX IF EXISTS "
    "velmora_runs_station_day;"
    " DROP TABLE IF EXISTS velmora_report_counts, velmora_report_units;";

inline std::vector<history::HistoryRecord> variedRuns() {
    const std::vector<std::string> operations = {"station", "update", "restore", "read",
                                                 "erase",   "verify", "station", "frob"};
    const std::vector<std::string> results = {"success", "failure", "unfinished",
                                              "failure", "success", "odd"};
    const std::vector<std::string> phases = {
        "open=12;erase=300;write=4500;reset=7",
        "open=3;erase",
        "open=1;backup=22;erase=9;write",
        "",
        "open",
        "open=1;erase=2;write=3;read=4;verify=5;reset",
        "open=-1;erase",
        "open=-0;erase",
        "o1pen=2;write",
        "open=1x;write",
        "frob=1;bar",
        "open=12345678901234567890;erase",
        "open=0000000000000000000001;erase",
        ";open",
        "open;",
        "write=5;write",
        "open=1;erase=22",
    };
    std::vector<history::HistoryRecord> runs;
    unsigned state = 7;
    const auto next = [&state](std::size_t range) {
        state = state * 1103515245u + 12345u;
        return static_cast<std::size_t>((state >> 8) % range);
    };
    for (int index = 0; index < 240; ++index) {
        history::HistoryRecord run;
        run.operation = operations[next(operations.size())];
        run.result = results[next(results.size())];
        run.phases = phases[next(phases.size())];
        // A station name with a byte that starts no character: the server keeps it as U+FFFD.
        const std::size_t station = next(4);
        run.station = station == 3 ? "bay-\xFF" : "station-" + std::to_string(station);
        run.port = "1-" + std::to_string(next(4));
        // A few days, and many runs at the very same moment.
        run.started =
            "2026-12-0" + std::to_string(1 + next(3)) + "T0" + std::to_string(next(3)) + ":00:00.000Z";
        if (next(5) == 0) run.origin = "simulated";
        if (next(4) != 0) run.unitId = "U" + std::to_string(next(40));
        if (next(10) == 0) run.hubSerial = "CZ1";
        runs.push_back(run);
    }
    // Starts at a month's last millisecond and on a day no calendar has, right
    // after it: a since on that last day counts each once.
    for (const char* started : {"2026-11-30T23:59:59.999Z", "2026-11-31T08:00:00.000Z", "2026-11-3"}) {
        history::HistoryRecord run = runs[runs.size() % 7];
        run.started = started;
        runs.push_back(run);
    }
    // Two logs of one station and port met in turn; the first of them is
    // deleted by hand (handEdits), so the phases come in the order its second
    // run and the other met them.
    for (const char* phases : {"open=1;erase=2;verify", "open=1;erase=2;read", "open=1;erase=2;verify"}) {
        history::HistoryRecord run;
        run.operation = "update";
        run.result = history::kResultFailure;
        run.phases = phases;
        run.station = "bay-order";
        run.started = "2026-11-29T0" + std::to_string(runs.size() % 10) + ":00:00.000Z";
        runs.push_back(run);
    }
    // A phase log and a port far longer than any index takes whole (letters
    // that do not compress), on a run that failed.
    std::string letters;
    for (int index = 0; index < 12000; ++index) letters += static_cast<char>('a' + next(26));
    history::HistoryRecord longest = runs[5];
    longest.phases = "open=1;" + letters;
    longest.port = letters.substr(0, 4000);
    longest.result = history::kResultFailure;
    runs.push_back(longest);
    return runs;
}

// What a hand at the store's SQL does to the runs (both stores' SQL): the
// first of a count's runs and all of a unit's deleted, a station's runs moved
// to a bench, each in one statement.
inline std::string handEdits(const std::string& runs) {
    return "DELETE FROM " + runs +
           " WHERE station = 'bay-order' AND phases = 'open=1;erase=2;verify' AND started = "
           "(SELECT min(started) FROM " +
           runs + " WHERE station = 'bay-order'); DELETE FROM " + runs + " WHERE unit_id = 'U7'; UPDATE " +
           runs + " SET origin = 'testbed' WHERE station = 'station-2';";
}

// A run as its first write left it: cut off in its first phase, its unit's ID
// not yet scanned for one in three.
inline history::HistoryRecord firstWriteOf(const history::HistoryRecord& run, std::size_t index) {
    history::HistoryRecord first = run;
    first.result = history::kResultUnfinished;
    first.phases = run.phases.substr(0, run.phases.find(';'));
    if (index % 3 == 0) first.unitId.reset();
    return first;
}

// The requests a report takes: every grouping, with and without a bench's
// runs, and each filter.
inline std::vector<history::ReportRequest> reportRequests() {
    std::vector<history::ReportRequest> requests;
    std::vector<history::HistoryFilter> filters(11);
    filters[1].since = "2026-12-02T00:00:00.000Z";
    filters[7].since = "2026-12-02T01:00:00.000Z";  // within a day
    filters[8].since = "2026-11-30T23:59:59.999Z";  // a month's last millisecond
    filters[9].since = "2026-11-30T12:00:00.000Z";
    filters[10].since = "2027-01-01T00:00:00.000Z";  // after every run
    filters[2].station = "station-1";
    filters[3].port = "1-2";
    filters[4].serial = "CZ1";
    filters[5].unitId = "U7";
    filters[6].station = "bay-\xFF";
    for (const history::ReportGrouping by :
         {history::ReportGrouping::Total, history::ReportGrouping::Station, history::ReportGrouping::Port,
          history::ReportGrouping::Day, history::ReportGrouping::Phase, history::ReportGrouping::Unit})
        for (const bool withOrigins : {false, true})
            for (const history::HistoryFilter& filter : filters)
                requests.push_back({filter, by, withOrigins});
    return requests;
}

// A report's lines as text, to compare and to show where two differ.
inline std::vector<std::string> reportText(const std::vector<history::ReportLine>& report) {
    std::vector<std::string> lines;
    for (const history::ReportLine& line : report) {
        std::string text = line.key + ": " + std::to_string(line.units) + " " + std::to_string(line.passed) +
                           "/" + std::to_string(line.failed) + "/" + std::to_string(line.unfinished) +
                           " apart " + std::to_string(line.reads) + "/" + std::to_string(line.erases) + "/" +
                           std::to_string(line.verifies) + " first " + std::to_string(line.firstPassed) +
                           " of " + std::to_string(line.firstPassUnits) + " failed in";
        for (const auto& [phase, count] : line.failuresByPhase)
            text += " [" + phase + "] " + std::to_string(count);
        lines.push_back(text);
    }
    return lines;
}

// The store counts each request as buildReport counts the rows it lists.
inline void expectReportsAsListed(history::HistoryStore& store) {
    for (const history::ReportRequest& request : reportRequests()) {
        std::string error;
        const auto runs = store.list(request.filter, error);
        ASSERT_TRUE(runs) << error;
        const auto counted = store.report(request, error);
        ASSERT_TRUE(counted) << error;
        const std::vector<history::ReportLine> listed =
            history::buildReport(*runs, request.by, request.withOrigins);
        EXPECT_EQ(reportText(*counted), reportText(listed))
            << "by " << static_cast<int>(request.by) << (request.withOrigins ? " with benches" : "")
            << " since '" << request.filter.since << "' station '" << request.filter.station << "' port '"
            << request.filter.port << "' serial '" << request.filter.serial << "' unit '"
            << request.filter.unitId << "'";
    }
}

}  // namespace velmora::testing
