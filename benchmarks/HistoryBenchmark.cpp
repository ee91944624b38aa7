// What a history of a line's size costs: 1,000,000 runs (or the count given) in
// the station's SQLite file and on a PostgreSQL server, then `history --since`
// of the last day on each, and what recording adds to a run (its row written
// when it starts, at each phase and when it ends, through the recorder the
// workflows feed) at the 99th percentile; with a server, the station's file
// takes the row and the sender sends it beside the runs. Last, the same writes
// straight to the server, for comparison. The server
// is a throw-away one this program starts (Debian's, on a Unix socket in a
// scratch folder), or the one named with --server URI.
// `history report` over all the runs, by each grouping, on each backend: its
// time, and the memory of a process that does nothing else (this program run
// again for each, its peak resident size before and after the report); and
// the total as it was made before ("listed": every run read into memory).
//
//   build/benchmarks/velmora_history_benchmark [--runs N] [--server URI]
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/IsoTime.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryReport.h"
#include "history/RunRecorder.h"
#include "history/StationFile.h"
#include "history/server/PostgresHistory.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ScratchFolder.h"

extern char** environ;

namespace {

using namespace velmora;
using Stopwatch = std::chrono::steady_clock;

constexpr int kDays = 365;      // the runs are spread over a year up to now
constexpr int kSamples = 1000;  // runs recorded for the percentile
constexpr int kListings = 20;   // `--since` listings timed
constexpr const char* kPhases[] = {"open", "open=1;erase", "open=1;erase=2;write",
                                   "open=1;erase=2;write=3;reset"};

// What the filled runs hold, the same SQL for both backends: a unit's phase
// times differ from run to run (as a real line's do), one run in 50 fails, in
// the phase its number picks, and every run has its unit's ID, one unit in ten
// run twice.
const std::string kFilledPhases =
    "CASE WHEN i % 50 = 0 THEN 'open=' || (i % 97) || ';erase=' || (i % 1200) ||"
    " CASE WHEN i % 100 = 0 THEN ';write' ELSE '' END"
    " ELSE 'open=' || (i % 97) || ';erase=' || (i % 1200) || ';write=' || (i % 4000) || ';reset=' || (i % "
    "300) "
    "END";
const std::string kFilledResult = "CASE WHEN i % 50 = 0 THEN 'failure' ELSE 'success' END";
std::string filledUnit(long count) {
    return "'U' || (i % " + std::to_string(std::max(1L, count - count / 10)) + ")";
}

double milliseconds(Stopwatch::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

// The SQL that makes a run's start n of count, spread evenly over the year
// before now; the same text works in SQLite and PostgreSQL.
std::string firstStart() {
    return isoUtc(wallNow() - std::chrono::hours(24 * kDays));
}

// One run through the recorder, as the workflows feed it: its row written when
// it starts, at each phase and when it ends. What that adds to the run.
double recordOneRun(RunRecorder& recorder) {
    const Stopwatch::time_point start = Stopwatch::now();
    std::unique_ptr<RunLog> log = recorder.runStarted({RunOperation::Station});
    for (const RunPhase phase : {RunPhase::Open, RunPhase::Backup, RunPhase::Erase, RunPhase::Write,
                                 RunPhase::Read, RunPhase::Verify, RunPhase::Reset})
        log->phaseStarted(phase);
    log->ended({true, ""});
    return milliseconds(Stopwatch::now() - start);
}

// The same writes straight to a store, without the station's file first.
double writeOneRun(history::HistoryStore& store) {
    history::HistoryRecord run;
    run.operation = "station";
    run.station = "bench";
    run.started = isoUtc(wallNow());
    const Stopwatch::time_point start = Stopwatch::now();
    std::string error;
    bool written = store.record(run, error);
    for (const char* phases : kPhases) {
        run.phases = phases;
        written = written && store.record(run, error);
    }
    run.result = history::kResultSuccess;
    written = written && store.record(run, error);
    if (!written) std::fprintf(stderr, "writing failed: %s\n", error.c_str());
    return milliseconds(Stopwatch::now() - start);
}

// This thread's processor time, which other programs' load does not lengthen.
double threadMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct RunTimes {
    std::vector<double> wall;
    std::vector<double> processor;
};

RunTimes timeRuns(const std::function<double()>& one) {
    RunTimes times;
    for (int index = 0; index < kSamples; ++index) {
        const double before = threadMilliseconds();
        times.wall.push_back(one());
        times.processor.push_back(threadMilliseconds() - before);
    }
    return times;
}

void showListing(const char* backend, history::HistoryStore& store) {
    history::HistoryFilter lastDay;
    lastDay.since = isoUtc(wallNow() - std::chrono::hours(24));
    std::vector<double> listings;
    std::size_t rows = 0;
    for (int round = 0; round < kListings; ++round) {
        std::string error;
        const Stopwatch::time_point start = Stopwatch::now();
        const auto listed = store.list(lastDay, error);
        listings.push_back(milliseconds(Stopwatch::now() - start));
        if (!listed) std::fprintf(stderr, "listing failed: %s\n", error.c_str());
        rows = listed ? listed->size() : 0;
    }
    std::printf("%-10s history --since the last day: %zu rows, median %.1f ms, slowest of %d %.1f ms\n",
                backend, rows, percentile(listings, 0.5), kListings, percentile(listings, 1.0));
}

void showRuns(const char* what, const RunTimes& times) {
    std::printf(
        "%-10s %d runs: median %.2f ms, p99 %.2f ms, slowest %.2f ms (this thread's processor time:"
        " median %.2f ms, p99 %.2f ms)\n",
        what, kSamples, percentile(times.wall, 0.5), percentile(times.wall, 0.99),
        percentile(times.wall, 1.0), percentile(times.processor, 0.5), percentile(times.processor, 0.99));
}

bool fillSqlite(const std::string& path, long count) {
    std::string error;
    if (!history::StationFile::open(path, FolderCreation::MustExist, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    sqlite3* handle = nullptr;
    if (sqlite3_open(path.c_str(), &handle) != SQLITE_OK) return false;
    const std::string sql =
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
        std::to_string(count) +
        ") INSERT INTO runs (operation, started, ended, host, port, phases, result, run_uuid, station, "
        "sent_to_server, unit_id)"
        " SELECT 'station', strftime('%Y-%m-%dT%H:%M:%fZ', julianday('" +
        firstStart() + "') + i * " + std::to_string(kDays) + ".0 / " + std::to_string(count) +
        "), '', 'bench', '1-' || (i % 8 + 1), " + kFilledPhases + ", " + kFilledResult +
        ", printf('%08x-0000-7000-8000-%012x', i / 65536, i), 'station-' || (i % 4), 'sent', " +
        filledUnit(count) + " FROM n;";
    char* message = nullptr;
    const bool filled = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!filled) std::fprintf(stderr, "filling the file failed: %s\n", message != nullptr ? message : "");
    sqlite3_free(message);
    sqlite3_close(handle);
    return filled;
}

bool fillServer(testing::PostgresServer* ours, const std::string& uri, long count) {
    std::string error;
    if (!history::PostgresHistory::connect(uri, error)) {  // lays the server out
        std::fprintf(stderr, "server: %s\n", error.c_str());
        return false;
    }
    if (ours == nullptr) return true;  // a named server is measured as it is
    ours->query(
        "INSERT INTO velmora_runs (operation, started, host, port, phases, result, run_uuid, station, "
        "unit_id)"
        " SELECT 'station', to_char(('" +
        firstStart() + "'::timestamptz + i * interval '" + std::to_string(kDays) + " days' / " +
        std::to_string(count) +
        ") AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), 'bench', '1-' || (i % 8 + 1), " +
        kFilledPhases + ", " + kFilledResult + ", md5(i::text)::uuid, 'station-' || (i % 4), " +
        filledUnit(count) + " FROM generate_series(0, " + std::to_string(count - 1) +
        ") AS i; ANALYZE velmora_runs;");
    // A million rows in one statement leave the counts' old row versions behind
    // (each row's trigger updates its count); on a line they are cleared as the
    // runs come, by the server's own vacuum, which this does at once.
    ours->query("VACUUM ANALYZE velmora_report_counts, velmora_report_units;");
    std::printf("PostgreSQL: counts kept: %s",
                ours->query("SELECT count(*) FROM velmora_report_counts;").c_str());
    return true;
}

constexpr std::pair<const char*, history::ReportGrouping> kGroupings[] = {
    {"total", history::ReportGrouping::Total}, {"station", history::ReportGrouping::Station},
    {"day", history::ReportGrouping::Day},     {"phase", history::ReportGrouping::Phase},
    {"unit", history::ReportGrouping::Unit},
};

double residentMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// This process's processor time: what the station's file costs it, whatever
// other programs' load adds to the wall time (a server's work is the server's).
double processMilliseconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) * 1000.0 + static_cast<double>(time.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// In a process of its own (this program, run again): one report, by grouping,
// from the store at target (a file's path, or a server's URI).
int reportOnly(const std::string& backend, const std::string& target, const std::string& grouping) {
    std::string error;
    std::unique_ptr<history::HistoryStore> store;
    if (backend == "SQLite") store = history::HistoryDatabase::open(target, error);
    if (backend != "SQLite") store = history::PostgresHistory::connect(target, error);
    if (!store) {
        std::fprintf(stderr, "%s: %s\n", backend.c_str(), error.c_str());
        return 1;
    }
    history::ReportRequest request;
    for (const auto& [name, by] : kGroupings)
        if (grouping == name) request.by = by;
    const double before = residentMiB();
    const double processorBefore = processMilliseconds();
    const Stopwatch::time_point start = Stopwatch::now();
    // "listed": as the report was made before, every run read and counted here.
    const auto counted = [&]() -> std::optional<std::vector<history::ReportLine>> {
        if (grouping != "listed") return store->report(request, error);
        const auto runs = store->list({}, error);
        if (!runs) return std::nullopt;
        return history::buildReport(*runs, request.by, request.withOrigins);
    };
    const auto report = counted();
    const double took = milliseconds(Stopwatch::now() - start);
    const double processor = processMilliseconds() - processorBefore;
    if (!report) {
        std::fprintf(stderr, "%s report: %s\n", backend.c_str(), error.c_str());
        return 1;
    }
    std::printf(
        "%-10s history report --by %-7s %7zu lines in %7.1f ms (processor %7.1f ms);"
        " peak resident %.1f MiB (%.1f MiB before)\n",
        backend.c_str(), grouping.c_str(), report->size(), took, processor, residentMiB(), before);
    return 0;
}

void showReports(const char* backend, const std::string& target) {
    std::vector<const char*> groupings;
    for (const auto& grouping : kGroupings) groupings.push_back(grouping.first);
    groupings.push_back("listed");
    for (const char* name : groupings) {
        std::vector<std::string> words = {"/proc/self/exe", "--report-only", backend, target, name};
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_t child = 0;
        int status = 0;
        if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
            ::waitpid(child, &status, 0) != child || status != 0)
            std::fprintf(stderr, "%s: the report by %s failed\n", backend, name);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // in order with the reports' own processes
    if (argc == 5 && std::string(argv[1]) == "--report-only") return reportOnly(argv[2], argv[3], argv[4]);
    long count = 1000000;
    std::string serverUri;
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string word = argv[index];
        if (word == "--runs") count = std::max(1L, std::strtol(argv[index + 1], nullptr, 10));
        if (word == "--server") serverUri = argv[index + 1];
    }
    testing::ScratchFolder folder("velmora-history-bench");
    const std::string path = folder.path("history.sqlite");
    Stopwatch::time_point start = Stopwatch::now();
    if (!fillSqlite(path, count)) return 1;
    std::printf("SQLite: %ld runs written in %.1f s\n", count, milliseconds(Stopwatch::now() - start) / 1000);
    std::string error;
    VirtualClock clock;
    const auto problem = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    {
        const auto database = history::HistoryDatabase::open(path, error);
        if (!database) return 1;
        showListing("SQLite", *database);
        showReports("SQLite", path);
        RunRecorder recorder(path, FolderCreation::MustExist, clock, problem, {"bench"});
        showRuns("Recording", timeRuns([&] { return recordOneRun(recorder); }));
    }

    std::unique_ptr<testing::PostgresServer> ours;
    if (serverUri.empty()) {
        ours = std::make_unique<testing::PostgresServer>();
        if (!ours->usable()) {
            std::fprintf(stderr, "PostgreSQL: %s\n", ours->problem().c_str());
            return 1;
        }
        serverUri = ours->uri();
    }
    start = Stopwatch::now();
    if (!fillServer(ours.get(), serverUri, count)) return 1;
    std::printf("PostgreSQL: %ld runs written in %.1f s\n", count,
                milliseconds(Stopwatch::now() - start) / 1000);
    const auto server = history::PostgresHistory::connect(serverUri, error);
    if (!server) return 1;
    showListing("PostgreSQL", *server);
    showReports("PostgreSQL", serverUri);
    {
        // A station of the line: its file first, the server from the sender.
        history::PostgresHistory line(serverUri);
        RecorderSettings settings{"bench"};
        settings.server = &line;
        RunRecorder recorder(path, FolderCreation::MustExist, clock, problem, settings);
        showRuns("Recording", timeRuns([&] { return recordOneRun(recorder); }));
        start = Stopwatch::now();
    }
    std::printf("           the sender's last rows reached the server %.0f ms after the last run\n",
                milliseconds(Stopwatch::now() - start));
    showRuns("Server", timeRuns([&] { return writeOneRun(*server); }));
    return 0;
}
