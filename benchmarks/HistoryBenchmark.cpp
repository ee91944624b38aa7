// What a history of a line's size costs: 1,000,000 runs (or the count given) in
// the station's SQLite file and on a PostgreSQL server, then `history --since`
// of the last day on each, and the recording of a run (its row written when it
// starts, after each phase and when it ends) at the 99th percentile. The server
// is a throw-away one this program starts (Debian's, on a Unix socket in a
// scratch folder), or the one named with --server URI.
//
//   build/benchmarks/velmora_history_benchmark [--runs N] [--server URI]
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "history/HistoryDatabase.h"
#include "history/HistoryFile.h"
#include "history/IsoTime.h"
#include "history/PostgresHistory.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ScratchFolder.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

constexpr int kDays = 365;      // the runs are spread over a year up to now
constexpr int kSamples = 1000;  // runs recorded for the percentile
constexpr int kListings = 20;   // `--since` listings timed
constexpr const char* kPhases[] = {"open", "open=1;erase", "open=1;erase=2;write",
                                   "open=1;erase=2;write=3;reset"};

double milliseconds(Clock::duration duration) {
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
    return history::isoUtc(history::wallNow() - std::chrono::hours(24 * kDays));
}

// A run's row as the recorder writes it: started, each phase, ended.
double recordOneRun(history::HistoryStore& store, int index) {
    history::HistoryRecord run;
    run.operation = "station";
    run.station = "bench";
    run.port = "1-" + std::to_string(index % 8 + 1);
    run.revision = 1;  // a server takes a write only when it is newer than the one it has
    const Clock::time_point start = Clock::now();
    run.started = history::isoUtc(history::wallNow());
    std::string error;
    bool written = store.record(run, error);
    for (const char* phases : kPhases) {
        run.phases = phases;
        ++run.revision;
        written = written && store.record(run, error);
    }
    run.result = history::kResultSuccess;
    run.ended = history::isoUtc(history::wallNow());
    ++run.revision;
    written = written && store.record(run, error);
    if (!written) std::fprintf(stderr, "recording failed: %s\n", error.c_str());
    return milliseconds(Clock::now() - start);
}

void report(const char* backend, history::HistoryStore& store) {
    history::HistoryFilter lastDay;
    lastDay.since = history::isoUtc(history::wallNow() - std::chrono::hours(24));
    std::vector<double> listings;
    std::size_t rows = 0;
    for (int round = 0; round < kListings; ++round) {
        std::string error;
        const Clock::time_point start = Clock::now();
        const auto listed = store.list(lastDay, error);
        listings.push_back(milliseconds(Clock::now() - start));
        if (!listed) std::fprintf(stderr, "listing failed: %s\n", error.c_str());
        rows = listed ? listed->size() : 0;
    }
    std::vector<double> runs;
    for (int index = 0; index < kSamples; ++index) runs.push_back(recordOneRun(store, index));
    std::printf(
        "%-10s --since last day: %zu rows, median %.1f ms, worst %.1f ms; recording a run (6 writes): "
        "median %.2f ms, p99 %.2f ms\n",
        backend, rows, percentile(listings, 0.5), percentile(listings, 1.0), percentile(runs, 0.5),
        percentile(runs, 0.99));
}

bool fillSqlite(const std::string& path, long count) {
    std::string error;
    if (!history::prepareHistoryFile(path, history::FolderCreation::MustExist, error) ||
        !history::HistoryDatabase::open(path, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    sqlite3* handle = nullptr;
    if (sqlite3_open(path.c_str(), &handle) != SQLITE_OK) return false;
    const std::string sql =
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
        std::to_string(count) +
        ") INSERT INTO runs (operation, started, ended, host, port, phases, result, run_uuid, station)"
        " SELECT 'station', strftime('%Y-%m-%dT%H:%M:%fZ', julianday('" +
        firstStart() + "') + i * " + std::to_string(kDays) + ".0 / " + std::to_string(count) +
        "), '', 'bench', '1-' || (i % 8 + 1), 'open=1;erase=2;write=3;reset=4',"
        " CASE WHEN i % 50 = 0 THEN 'failure' ELSE 'success' END,"
        " printf('%08x-0000-7000-8000-%012x', i / 65536, i), 'station-' || (i % 4) FROM n;";
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
        "INSERT INTO velmora_runs (operation, started, host, port, phases, result, run_uuid, station)"
        " SELECT 'station', to_char(('" +
        firstStart() + "'::timestamptz + i * interval '" + std::to_string(kDays) + " days' / " +
        std::to_string(count) +
        ") AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), 'bench', '1-' || (i % 8 + 1),"
        " 'open=1;erase=2;write=3;reset=4', CASE WHEN i % 50 = 0 THEN 'failure' ELSE 'success' END,"
        " md5(i::text)::uuid, 'station-' || (i % 4) FROM generate_series(0, " +
        std::to_string(count - 1) + ") AS i; ANALYZE velmora_runs;");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long count = 1000000;
    std::string serverUri;
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string word = argv[index];
        if (word == "--runs") count = std::max(1L, std::strtol(argv[index + 1], nullptr, 10));
        if (word == "--server") serverUri = argv[index + 1];
    }
    testing::ScratchFolder folder("velmora-history-bench");
    const std::string path = folder.path("history.sqlite");
    Clock::time_point start = Clock::now();
    if (!fillSqlite(path, count)) return 1;
    std::printf("SQLite: %ld runs written in %.1f s\n", count, milliseconds(Clock::now() - start) / 1000);
    std::string error;
    {
        const auto database = history::HistoryDatabase::open(path, error);
        if (!database) return 1;
        report("SQLite", *database);
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
    start = Clock::now();
    if (!fillServer(ours.get(), serverUri, count)) return 1;
    std::printf("PostgreSQL: %ld runs written in %.1f s\n", count, milliseconds(Clock::now() - start) / 1000);
    const auto server = history::PostgresHistory::connect(serverUri, error);
    if (!server) return 1;
    report("PostgreSQL", *server);
    return 0;
}
