// The history database: rows written and completed, the listing's filters, a file
// from a newer program, and several processes writing at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/RunId.h"
#include "history/HistoryDatabase.h"
#include "history/SerialCounter.h"
#include "history/SerialMarks.h"
#include "history/StationFile.h"
#include "tests/history/ReportRuns.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"
#include "workflows/RunOrigin.h"

namespace velmora::testing {
namespace {

using history::HistoryDatabase;
using history::HistoryRecord;

// The runs table as layout 1 made it, without its closing parenthesis: later
// layouts added their columns after these.
constexpr const char* kLayoutOneRuns =
    "CREATE TABLE runs (id INTEGER PRIMARY KEY, operation TEXT NOT NULL, started TEXT NOT NULL,"
    " ended TEXT NOT NULL DEFAULT '', host TEXT NOT NULL DEFAULT '', port TEXT NOT NULL DEFAULT '',"
    " hub_ids TEXT NOT NULL DEFAULT '', version_before TEXT NOT NULL DEFAULT '',"
    " version_after TEXT NOT NULL DEFAULT '', image_path TEXT NOT NULL DEFAULT '',"
    " image_sha256 TEXT NOT NULL DEFAULT '', image_serial TEXT NOT NULL DEFAULT '',"
    " phases TEXT NOT NULL DEFAULT '', result TEXT NOT NULL DEFAULT 'unfinished',"
    " failure TEXT NOT NULL DEFAULT ''";

class HistoryDatabaseTest : public ::testing::Test {
protected:
    std::unique_ptr<HistoryDatabase> open() {
        std::string error;
        EXPECT_TRUE(history::StationFile::open(path_, FolderCreation::MustExist, error)) << error;
        auto database = HistoryDatabase::open(path_, error);
        EXPECT_TRUE(database) << error;
        return database;
    }

    static HistoryRecord run(const std::string& started, const std::string& port) {
        HistoryRecord record;
        record.operation = "update";
        record.started = started;
        record.port = port;
        return record;
    }

    // A history file as an older release left it: made by the program's own
    // file rules, then laid out and filled by the given SQL.
    void writeOlderFile(const std::string& sql) {
        std::string error;
        std::ofstream(path_) << "";
        ::chmod(path_.c_str(), 0600);
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open(path_.c_str(), &handle), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(handle);
        sqlite3_close(handle);
    }

    std::vector<HistoryRecord> list(HistoryDatabase& database, const history::HistoryFilter& filter = {}) {
        std::string error;
        auto records = database.list(filter, error);
        EXPECT_TRUE(records) << error;
        return records.value_or(std::vector<HistoryRecord>{});
    }

    ScratchFolder scratch_{"velmora-history"};
    std::string path_ = scratch_.path("history.sqlite");
};

TEST_F(HistoryDatabaseTest, RowStartsUnfinishedAndIsCompletedInPlace) {
    auto database = open();
    std::string error;
    HistoryRecord record = run("2026-12-08T10:00:00.000Z", "1-1");
    const auto id = database->insert(record, error);
    ASSERT_TRUE(id) << error;
    ASSERT_EQ(list(*database).size(), 1u);
    EXPECT_EQ(list(*database)[0].result, "unfinished");
    EXPECT_EQ(list(*database)[0].ended, "");

    record.id = *id;
    record.ended = "2026-12-08T10:00:04.000Z";
    record.result = history::kResultFailure;
    record.failure = "Fail to verify flash";
    record.imageSerial = "quote \" and, comma";
    ASSERT_TRUE(database->update(record, error)) << error;
    database.reset();

    auto reopened = open();
    const std::vector<HistoryRecord> rows = list(*reopened);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, *id);
    EXPECT_EQ(rows[0].result, "failure");
    EXPECT_EQ(rows[0].failure, "Fail to verify flash");
    EXPECT_EQ(rows[0].imageSerial, "quote \" and, comma");
    record.id = *id + 100;
    EXPECT_FALSE(reopened->update(record, error));  // a row that is not there is an error, not a no-op
}

TEST_F(HistoryDatabaseTest, ListsByStartAndPort) {
    auto database = open();
    std::string error;
    for (const auto& [started, port] :
         std::vector<std::pair<std::string, std::string>>{{"2026-12-08T10:00:00.000Z", "1-1"},
                                                          {"2026-12-08T09:00:00.000Z", "1-2"},
                                                          {"2026-12-08T11:00:00.000Z", "1-1"},
                                                          {"2026-12-07T23:59:59.999Z", "1-1"}}) {
        ASSERT_TRUE(database->insert(run(started, port), error)) << error;
    }
    std::vector<std::string> starts;
    for (const HistoryRecord& row : list(*database)) starts.push_back(row.started);
    EXPECT_EQ(starts, (std::vector<std::string>{"2026-12-07T23:59:59.999Z", "2026-12-08T09:00:00.000Z",
                                                "2026-12-08T10:00:00.000Z", "2026-12-08T11:00:00.000Z"}));
    EXPECT_EQ(list(*database, {"2026-12-08T09:00:00.000Z", ""}).size(), 3u);
    const std::vector<HistoryRecord> onPort = list(*database, {"2026-12-08T00:00:00.000Z", "1-1"});
    ASSERT_EQ(onPort.size(), 2u);
    EXPECT_EQ(onPort[0].started, "2026-12-08T10:00:00.000Z");
    EXPECT_TRUE(list(*database, {"", "1-9"}).empty());
}

TEST_F(HistoryDatabaseTest, FileOfANewerProgramIsLeftAlone) {
    open().reset();
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &handle), SQLITE_OK);
    sqlite3_exec(handle, "PRAGMA user_version=99;", nullptr, nullptr, nullptr);
    sqlite3_close(handle);
    std::string error;
    EXPECT_FALSE(HistoryDatabase::open(path_, error));
    EXPECT_NE(error.find("newer version"), std::string::npos) << error;
}

// A file written by the first release of the history (layout 1, before backups):
// its rows stay, and the columns added since read empty until written.
TEST_F(HistoryDatabaseTest, FileOfLayoutOneIsUpgradedInPlace) {
    const std::string layoutOne =
        std::string(kLayoutOneRuns) +
        ");"
        "CREATE INDEX runs_started ON runs (started);"
        "INSERT INTO runs (operation, started, port, result) VALUES ('update', '2026-01-02T03:04:05.000Z',"
        " '1-2', 'failure');"
        "PRAGMA user_version=1;";
    writeOlderFile(layoutOne);
    if (HasFatalFailure()) return;

    auto database = open();
    ASSERT_TRUE(database);
    std::vector<HistoryRecord> records = list(*database);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].port, "1-2");
    EXPECT_EQ(records[0].result, "failure");
    EXPECT_EQ(records[0].backupSha256, "");

    HistoryRecord backedUp = run("2026-01-03T00:00:00.000Z", "1-2");
    backedUp.backupSha256 = std::string(64, 'a');
    std::string error;
    ASSERT_TRUE(database->insert(backedUp, error)) << error;
    database.reset();
    records = list(*open());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].backupSha256, std::string(64, 'a'));
}

// A file of layout 2 (backups, before the line's server): its rows stay, and
// each gets a UUID of its own, its host as its station, and waits to be sent.
// What the sender then relies on: a row marked as sent stays so until it is
// written again, and a mark for a write the row has since outgrown is ignored.
TEST_F(HistoryDatabaseTest, FileOfLayoutTwoGetsNamedRowsThatWaitForTheServer) {
    const std::string layoutTwo =
        std::string(kLayoutOneRuns) +
        ", backup_sha256 TEXT NOT NULL DEFAULT '',"
        " recovered_run TEXT NOT NULL DEFAULT '');"
        "CREATE INDEX runs_started ON runs (started);"
        "INSERT INTO runs (operation, started, host, port, result, backup_sha256) VALUES"
        " ('update', '2026-01-02T03:04:05.000Z', 'bench-7', '1-2', 'failure', 'abc'),"
        " ('update', '2026-01-02T03:04:05.000Z', 'bench-7', '1-3', 'success', '');"
        "PRAGMA user_version=2;";
    writeOlderFile(layoutTwo);
    if (HasFatalFailure()) return;

    auto database = open();
    ASSERT_TRUE(database);
    std::vector<HistoryRecord> rows = list(*database);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].backupSha256, "abc");
    EXPECT_EQ(rows[1].result, "success");
    for (const HistoryRecord& row : rows) {
        EXPECT_TRUE(RunId::parse(row.runUuid).has_value()) << row.runUuid;
        EXPECT_EQ(row.runUuid.substr(14, 1), "7");  // made from the time the run started
        EXPECT_EQ(row.station, "bench-7");
        EXPECT_EQ(row.serverTime, "");
    }
    EXPECT_NE(rows[0].runUuid, rows[1].runUuid);

    std::string error;
    HistoryRecord simulated = run("2026-01-03T00:00:00.000Z", "1-1");
    simulated.origin = storedOrigin(RunOrigin::Simulated);
    simulated.lineServer = "host=bench";  // written for a server its own command named
    ASSERT_TRUE(database->record(simulated, error)) << error;
    EXPECT_TRUE(RunId::parse(simulated.runUuid).has_value());
    const history::RowsFor stationsOwn{"host=line", true};
    const history::RowsFor bench{"host=bench", false};
    const history::RowsFor both{"host=bench", true};
    auto waiting = database->unsent(stationsOwn, 10, error);
    ASSERT_TRUE(waiting) << error;
    EXPECT_EQ(waiting->size(), 2u);  // a bench's run waits only for the server its command named
    waiting = database->unsent(bench, 10, error);
    ASSERT_TRUE(waiting) << error;
    EXPECT_EQ(waiting->size(), 1u);  // and that server takes none of the station's
    waiting = database->unsent(both, 10, error);
    ASSERT_TRUE(waiting) << error;
    ASSERT_EQ(waiting->size(), 3u);

    // What the station's figures read: the same rows counted, and the oldest's last write.
    std::string oldest = "~";
    for (const HistoryRecord& row : *waiting)
        oldest = std::min(oldest, row.ended.empty() ? row.started : row.ended);
    const auto counted = [&](const history::RowsFor& server) {
        return database->waiting(server, error).value_or(history::WaitingRows{99, "none"});
    };
    EXPECT_EQ(counted(stationsOwn).count, 2u);
    EXPECT_EQ(counted(both).count, 3u);
    EXPECT_EQ(counted(both).oldestWritten, oldest);

    const HistoryRecord first = (*waiting)[0];
    ASSERT_TRUE(database->markSent({first}, "2026-01-04T00:00:00.000Z", error)) << error;
    EXPECT_EQ(database->unsent(both, 10, error)->size(), 2u);
    EXPECT_EQ(counted(both).count, 2u);
    HistoryRecord changed = first;
    changed.result = history::kResultSuccess;
    ASSERT_TRUE(database->record(changed, error)) << error;  // written again: waits again
    ASSERT_EQ(database->unsent(both, 10, error)->size(), 3u);
    ASSERT_TRUE(database->markSent({first}, "2026-01-04T00:00:01.000Z", error)) << error;
    EXPECT_EQ(database->unsent(both, 10, error)->size(), 3u);  // the old write's mark counts for nothing
    rows = list(*database);
    EXPECT_EQ(rows[0].runUuid, first.runUuid);
    EXPECT_EQ(rows[0].result, "success");
    EXPECT_EQ(rows[0].revision, first.revision + 1);
}

// A file of layout 4, the one before runs had one name everywhere: a recovery
// that named its run by the local row number now names it by that run's UUID
// (and waits to be sent again, so the server learns it), a testbed's runs are
// called so, and the serial numbers are a real line's, counted on from where
// they stood, with a bench's counter of their own beside them.
TEST_F(HistoryDatabaseTest, FileOfLayoutFourGetsOneNamePerRunAndBenchRunsApart) {
    const std::string layoutFour =
        std::string(kLayoutOneRuns) +
        ", backup_sha256 TEXT NOT NULL DEFAULT '',"
        " recovered_run TEXT NOT NULL DEFAULT '', run_uuid TEXT NOT NULL DEFAULT '',"
        " station TEXT NOT NULL DEFAULT '', origin TEXT NOT NULL DEFAULT '',"
        " revision INTEGER NOT NULL DEFAULT 1, sent_to_server TEXT NOT NULL DEFAULT '',"
        " hub_serial TEXT NOT NULL DEFAULT '');"
        "CREATE INDEX runs_started ON runs (started);"
        "CREATE UNIQUE INDEX runs_uuid ON runs (run_uuid);"
        "CREATE INDEX runs_waiting ON runs (id) WHERE sent_to_server = '';"
        "CREATE INDEX runs_hub_serial ON runs (hub_serial);"
        "CREATE TABLE serial_counters (prefix TEXT PRIMARY KEY, next_number INTEGER NOT NULL);"
        "CREATE TABLE serial_numbers (prefix TEXT NOT NULL, number INTEGER NOT NULL, station TEXT NOT NULL,"
        " state TEXT NOT NULL, changed TEXT NOT NULL, UNIQUE (prefix, number));"
        "CREATE INDEX serial_numbers_station ON serial_numbers (station, state);"
        "INSERT INTO runs (operation, started, port, result, backup_sha256, run_uuid, sent_to_server) VALUES"
        " ('update', '2026-01-02T03:04:05.000Z', '1-2', 'failure', 'abc',"
        "  '01a25518-8500-7000-8000-000000000001', '2026-01-02T03:05:00.000Z'),"
        " ('recover', '2026-01-02T04:00:00.000Z', '1-2', 'success', '',"
        "  '01a25518-8500-7000-8000-000000000002', '2026-01-02T04:01:00.000Z');"
        "UPDATE runs SET recovered_run = '1' WHERE id = 2;"
        "INSERT INTO runs (operation, started, port, result, run_uuid, origin) VALUES"
        " ('update', '2026-01-03T00:00:00.000Z', '1-1', 'success', '01a25518-8500-7000-8000-000000000003',"
        "  'replayed');"
        "INSERT INTO serial_counters VALUES ('ZH', 5);"
        "INSERT INTO serial_numbers VALUES ('ZH', 3, 'bay-1', 'used', '2026-01-02T03:04:05.000Z'),"
        " ('ZH', 4, 'bay-1', 'void', '2026-01-02T03:04:05.000Z');"
        "PRAGMA user_version=4;";
    writeOlderFile(layoutFour);
    if (HasFatalFailure()) return;

    std::string error;
    auto file = history::StationFile::open(path_, FolderCreation::MustExist, error);
    ASSERT_TRUE(file) << error;
    const std::vector<HistoryRecord> rows = list(file->database());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].recoveredRun, rows[0].runUuid);
    EXPECT_EQ(rows[1].serverTime, "");  // waits to be sent again
    EXPECT_EQ(rows[1].revision, 2);
    EXPECT_EQ(rows[0].serverTime, "2026-01-02T03:05:00.000Z");
    EXPECT_EQ(rows[2].origin, storedOrigin(RunOrigin::Testbed));

    history::SerialCounter real(file, RunOrigin::Real);
    const auto numbers = real.numbers("ZH", error);
    ASSERT_TRUE(numbers) << error;
    ASSERT_EQ(numbers->size(), 2u);
    EXPECT_EQ((*numbers)[0].state, "used");
    EXPECT_EQ(real.reserveBlock("bay-2", "ZH", 1, 999, 2, error)->first, 5u);
    history::SerialCounter bench(file, RunOrigin::Simulated);
    EXPECT_EQ(bench.reserveBlock("bay-2", "ZH", 1, 999, 2, error)->first, 1u);
}

// Layout 6 adds the image's signature to every row; a file of layout 5 keeps its
// rows, which show no signature, and records the next run's.
TEST_F(HistoryDatabaseTest, FileOfLayoutFiveGetsTheSignatureColumns) {
    {
        auto database = open();
        ASSERT_TRUE(database);
        std::string error;
        ASSERT_TRUE(database->insert(run("2026-12-01T00:00:00.000Z", "1-1"), error)) << error;
    }
    // Back to layout 5, as the previous release left it.
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &handle), SQLITE_OK);
    EXPECT_EQ(
        sqlite3_exec(handle,
                     (std::string(kWithoutReportCounts) +
                      "ALTER TABLE runs DROP COLUMN signature; ALTER TABLE runs DROP COLUMN signature_key;"
                      "ALTER TABLE runs DROP COLUMN signature_comment;"
                      "ALTER TABLE runs DROP COLUMN signed_sha256; DROP INDEX runs_unit;"
                      "ALTER TABLE runs DROP COLUMN unit_id; ALTER TABLE runs DROP COLUMN line_server;"
                      "DROP TABLE serial_marks; PRAGMA user_version=5;")
                         .c_str(),
                     nullptr, nullptr, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(handle);
    sqlite3_close(handle);
    auto database = open();
    ASSERT_TRUE(database);
    HistoryRecord signedRun = run("2026-12-02T00:00:00.000Z", "1-2");
    signedRun.signature = "trusted";
    signedRun.signatureKey = "99CBC3FF71922B23";
    signedRun.signatureComment = "timestamp:1796796748\tfile:fw.bin";
    signedRun.signedSha256 = std::string(64, 'a');
    std::string error;
    ASSERT_TRUE(database->insert(signedRun, error)) << error;
    const std::vector<HistoryRecord> rows = list(*database);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].signature, "");
    EXPECT_EQ(rows[1].signature, "trusted");
    EXPECT_EQ(rows[1].signatureKey, signedRun.signatureKey);
    EXPECT_EQ(rows[1].signatureComment, signedRun.signatureComment);
    EXPECT_EQ(rows[1].signedSha256, signedRun.signedSha256);
}

// Each writer starts a run, marks three phases and completes it, many times over;
// both start on a file nobody has laid out yet.
int writeRuns(const std::string& path, const std::string& port, int runs) {
    std::string error;
    auto file = history::StationFile::open(path, FolderCreation::MustExist, error);
    if (!file) return 11;
    HistoryDatabase* database = &file->database();
    for (int index = 0; index < runs; ++index) {
        HistoryRecord record;
        record.operation = "update";
        record.started = "2026-12-08T10:00:00.000Z";
        record.port = port;
        const auto id = database->insert(record, error);
        if (!id) return 12;
        record.id = *id;
        for (const char* phases : {"open", "open=1;erase", "open=1;erase=2;write"}) {
            record.phases = phases;
            if (!database->update(record, error)) return 13;
        }
        record.result = history::kResultSuccess;
        if (!database->update(record, error)) return 14;
    }
    return 0;
}

TEST_F(HistoryDatabaseTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kRuns = 60;
    std::vector<pid_t> writers;
    for (const char* port : {"1-1", "1-2"}) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(kChildGuardSeconds);
            ::_exit(writeRuns(path_, port, kRuns));
        }
        writers.push_back(child);
    }
    for (const pid_t writer : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(writer, &status, 0), writer);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    auto database = open();
    const std::vector<HistoryRecord> rows = list(*database);
    ASSERT_EQ(rows.size(), 2u * kRuns);
    std::set<std::int64_t> ids;
    for (const HistoryRecord& row : rows) {
        ids.insert(row.id);
        EXPECT_EQ(row.result, "success");
        EXPECT_EQ(row.phases, "open=1;erase=2;write");
    }
    EXPECT_EQ(ids.size(), rows.size());
    EXPECT_EQ(list(*database, {"", "1-2"}).size(), static_cast<std::size_t>(kRuns));
}

// Eight first runs at the same moment on a history nobody has made yet: each
// waits for whichever lays the file out, and none gives up on it. Several rounds,
// each on a new file, since the race lasts only as long as the file's first moments.
TEST_F(HistoryDatabaseTest, EightProcessesStartingOnAMissingFileAllGetIn) {
    constexpr int kWriters = 8;
    constexpr int kRuns = 3;
    for (int round = 0; round < 5; ++round) {
        const std::string path = scratch_.path("round" + std::to_string(round) + ".sqlite");
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        std::vector<pid_t> writers;
        for (int writer = 0; writer < kWriters; ++writer) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::alarm(kChildGuardSeconds);
                ::close(gate[1]);
                char ignored = 0;
                (void)!::read(gate[0], &ignored, 1);  // returns when the parent opens the gate
                ::_exit(writeRuns(path, "1-" + std::to_string(writer + 1), kRuns));
            }
            writers.push_back(child);
        }
        ::close(gate[0]);
        ::close(gate[1]);  // every child's read returns at once
        for (const pid_t writer : writers) {
            int status = 0;
            ASSERT_EQ(::waitpid(writer, &status, 0), writer);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 0) << "round " << round;
        }
        std::string error;
        auto database = HistoryDatabase::open(path, error);
        ASSERT_TRUE(database) << error;
        EXPECT_EQ(list(*database).size(), static_cast<std::size_t>(kWriters * kRuns)) << "round " << round;
    }
}

// Layout 7 gives each row the server it is for, layout 8 the unit's scanned ID,
// layout 9 the serial numbers' marks kept for the server, layout 10 the
// report's counts; a file of the layout before each keeps its rows (for no
// server, with no ID), and then keeps all of them for the next run, finds a
// unit's runs by its ID and counts its report as its runs say.
TEST_F(HistoryDatabaseTest, FilesOfLayoutsSixToNineGetTheRowsServerTheUnitsIdKeptMarksAndCounts) {
    const std::string uncounted = kWithoutReportCounts;
    const std::vector<std::pair<int, std::string>> earlier = {
        {6, uncounted + "DROP TABLE serial_marks; DROP INDEX runs_unit; ALTER TABLE runs DROP COLUMN unit_id;"
                        " ALTER TABLE runs DROP COLUMN line_server;"},
        {7,
         uncounted + "DROP TABLE serial_marks; DROP INDEX runs_unit; ALTER TABLE runs DROP COLUMN unit_id;"},
        {8, uncounted + "DROP TABLE serial_marks;"},
        {9, uncounted},
    };
    for (const auto& [layout, back] : earlier) {
        SCOPED_TRACE(layout);
        std::filesystem::remove(path_);
        {
            auto database = open();
            ASSERT_TRUE(database);
            std::string error;
            ASSERT_TRUE(database->insert(run("2026-12-01T00:00:00.000Z", "1-1"), error)) << error;
        }
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open(path_.c_str(), &handle), SQLITE_OK);
        const std::string sql = back + "PRAGMA user_version=" + std::to_string(layout) + ";";
        EXPECT_EQ(sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(handle);
        sqlite3_close(handle);

        auto database = open();
        ASSERT_TRUE(database);
        HistoryRecord scanned = run("2026-12-02T00:00:00.000Z", "1-2");
        scanned.unitId = "LBL-0042";
        scanned.lineServer = "host=db dbname=line";
        std::string error;
        ASSERT_TRUE(database->insert(scanned, error)) << error;
        const std::vector<HistoryRecord> rows = list(*database);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].unitId, std::nullopt);
        EXPECT_EQ(rows[0].lineServer, "");
        EXPECT_EQ(rows[1].unitId, std::optional<std::string>("LBL-0042"));
        EXPECT_EQ(rows[1].lineServer, scanned.lineServer);
        history::HistoryFilter filter;
        filter.unitId = "LBL-0042";
        const std::vector<HistoryRecord> found = list(*database, filter);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].port, "1-2");
        history::SerialMark mark{0, "host=db", "", "bay-1", "ZH", 7, "used", scanned.runUuid};
        ASSERT_TRUE(history::keepMark(*database, mark, error)) << error;
        const auto kept = history::waitingMarks(*database, "host=db", {}, 0, 10, error);
        ASSERT_TRUE(kept) << error;
        ASSERT_EQ(kept->size(), 1u);
        EXPECT_EQ((*kept)[0].number, 7u);
        expectReportsAsListed(*database);
    }
}

// The file counts a report itself, and gives the lines buildReport makes of
// the same rows, for every grouping, filter and kind of run: as the runs were
// written twice (their first write, then their last), and after rows were
// deleted by hand.
TEST_F(HistoryDatabaseTest, ReportCountedInTheFileGivesTheListedRunsLines) {
    auto database = open();
    ASSERT_TRUE(database);
    const std::vector<HistoryRecord> runs = variedRuns();
    for (std::size_t index = 0; index < runs.size(); ++index) {
        std::string error;
        HistoryRecord first = firstWriteOf(runs[index], index);
        ASSERT_TRUE(database->record(first, error)) << error;
        HistoryRecord last = runs[index];
        last.id = first.id;
        last.runUuid = first.runUuid;
        ASSERT_TRUE(database->record(last, error)) << error;
    }
    expectReportsAsListed(*database);
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &handle), SQLITE_OK);
    const std::string edits =
        "DELETE FROM runs WHERE id % 7 = 0 AND station <> 'bay-order';" + handEdits("runs");
    EXPECT_EQ(sqlite3_exec(handle, edits.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(handle);
    sqlite3_close(handle);
    expectReportsAsListed(*database);
}

// Two senders may send one kept mark; once one dropped it, a new mark can take
// its row number. The other's drop of what it sent leaves the new mark waiting.
TEST_F(HistoryDatabaseTest, ADropOfASentMarkLeavesANewMarkOfItsNumberWaiting) {
    auto database = open();
    ASSERT_TRUE(database);
    std::string error;
    history::SerialMark issued{0, "host=db", "", "bay-1", "ZH", 27, "issued", ""};
    ASSERT_TRUE(history::keepMark(*database, issued, error)) << error;
    const auto sentByBoth = history::waitingMarks(*database, "host=db", {}, 0, 10, error);
    ASSERT_TRUE(sentByBoth && sentByBoth->size() == 1) << error;
    ASSERT_TRUE(history::dropMarks(*database, *sentByBoth, error)) << error;
    history::SerialMark used{0, "host=db", "", "bay-1", "ZH", 27, "used", "run-27"};
    ASSERT_TRUE(history::keepMark(*database, used, error)) << error;
    ASSERT_TRUE(history::dropMarks(*database, *sentByBoth, error)) << error;
    const auto waiting = history::waitingMarks(*database, "host=db", {}, 0, 10, error);
    ASSERT_TRUE(waiting) << error;
    ASSERT_EQ(waiting->size(), 1u);
    EXPECT_EQ((*waiting)[0].state, "used");
}

}  // namespace
}  // namespace velmora::testing
