#include "history/HistoryDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <thread>

#include "app/FileLock.h"
#include "app/IsoTime.h"
#include "app/RunId.h"
#include "history/HistoryColumns.h"
#include "history/HistoryReportSqlite.h"
#include "history/ReportCounts.h"
#include "history/SerialTables.h"
#include "history/SqliteStatement.h"

namespace velmora::history {
namespace {

// Bumped whenever the layout changes; a newer program migrates an older file.
// The layout of version 1 is made first, then every upgrade step after it in
// turn, so a new file and an upgraded one end with the very same tables.
constexpr int kLayoutVersion = 10;

struct LayoutUpgrade {
    int version;  // the layout this step leads to
    const char* sql;
    // What SQL alone cannot do, run after sql in the same transaction; may be null.
    bool (*complete)(sqlite3* handle, std::string& error);
};

bool nameEarlierRuns(sqlite3* handle, std::string& error);
bool keepReportCounts(sqlite3* handle, std::string& error);

constexpr const char* kSignedImagesLayout =
    "ALTER TABLE runs ADD COLUMN signature TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE runs ADD COLUMN signature_key TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE runs ADD COLUMN signature_comment TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE runs ADD COLUMN signed_sha256 TEXT NOT NULL DEFAULT '';";

// One step per version after the first; later layouts add theirs at the end.
constexpr std::array<LayoutUpgrade, 9> kUpgrades = {{
    // 2: the run's flash backup, taken before the erase, and for a recovery the
    // run it recovered.
    {2,
     "ALTER TABLE runs ADD COLUMN backup_sha256 TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE runs ADD COLUMN recovered_run TEXT NOT NULL DEFAULT '';",
     nullptr},
    // 3: a line of stations on one server. Each row gets the run's UUID, the
    // station's name, whether the hub was real, a count of its writes and the
    // time its latest write reached the server (empty: still waiting).
    {3,
     "ALTER TABLE runs ADD COLUMN run_uuid TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE runs ADD COLUMN station TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE runs ADD COLUMN origin TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE runs ADD COLUMN revision INTEGER NOT NULL DEFAULT 1;"
     "ALTER TABLE runs ADD COLUMN sent_to_server TEXT NOT NULL DEFAULT '';",
     nameEarlierRuns},
    // 4: production serial numbers, and the serial the hub reported.
    {4, kSerialTablesLayout, nullptr},
    // 5: one name per run and bench runs kept apart: a recovery names the run
    // it recovered by that run's UUID (the local row number meant nothing on a
    // server, so those rows wait to be sent again), testbed runs are named so
    // (they were "replayed"), and serial numbers are counted per origin and
    // name the run that took them.
    {5, kOneNamePerRunLayout, nullptr},
    // 6: signed images: the signature's state, key ID and trusted comment, and
    // the SHA-256 of the signed file when the bytes written differ from it.
    {6, kSignedImagesLayout, nullptr},
    // 7: each row knows its server: the one named when it was written, the only
    // one it is sent to. Rows written before are the station's own server's.
    {7, "ALTER TABLE runs ADD COLUMN line_server TEXT NOT NULL DEFAULT '';", nullptr},
    // 8: the unit's own ID (a scanned label), NULL where none was given.
    {8,
     "ALTER TABLE runs ADD COLUMN unit_id TEXT;"
     "CREATE INDEX runs_unit ON runs (unit_id) WHERE unit_id IS NOT NULL;",
     nullptr},
    // 9: the serial numbers' marks kept until the line's server has them.
    {9, kKeptMarksLayout, nullptr},
    // 10: the report's counts, kept by triggers as the runs are written and
    // first made from the runs already kept.
    {10, "", keepReportCounts},
}};
static_assert(kUpgrades.back().version == kLayoutVersion, "every layout version has its upgrade step");

constexpr const char* kLayout =
    "CREATE TABLE IF NOT EXISTS runs ("
    " id INTEGER PRIMARY KEY,"
    " operation TEXT NOT NULL,"
    " started TEXT NOT NULL,"
    " ended TEXT NOT NULL DEFAULT '',"
    " host TEXT NOT NULL DEFAULT '',"
    " port TEXT NOT NULL DEFAULT '',"
    " hub_ids TEXT NOT NULL DEFAULT '',"
    " version_before TEXT NOT NULL DEFAULT '',"
    " version_after TEXT NOT NULL DEFAULT '',"
    " image_path TEXT NOT NULL DEFAULT '',"
    " image_sha256 TEXT NOT NULL DEFAULT '',"
    " image_serial TEXT NOT NULL DEFAULT '',"
    " phases TEXT NOT NULL DEFAULT '',"
    " result TEXT NOT NULL DEFAULT 'unfinished',"
    " failure TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX IF NOT EXISTS runs_started ON runs (started);";

constexpr auto& kColumns = kRecordColumns;

std::string columnList() {
    return recordColumnList();
}

using Statement = SqliteStatement;

bool execute(sqlite3* handle, const char* sql, std::string& error) {
    return sqliteExecute(handle, sql, error);
}

// The first steps of every open on one file (switching a new file to the
// write-ahead log and laying out its tables) take turns across processes: two
// doing that at the same moment on a file nobody has laid out can each see the
// other's half-made header, and SQLite then fails one of them at once
// ("database is locked", or no table) instead of letting it wait its turn. The
// lock is on the history's own folder, which only its owner can open, so no
// other user can hold it, and it never touches SQLite's own locks on the
// database file. Held for milliseconds; a holder that hangs is waited for no
// longer than the busy timeout.
FileLock lockLayout(const std::string& databasePath, std::string& error) {
    const std::string folder = std::filesystem::path(databasePath).parent_path().string();
    return lockFolder(folder, LockWait::Bounded, kBusyTimeout, error);
}

// Rows from before layout 3 get what a run gets now: a UUID made from the time
// they started, and the host they ran on as their station. Then the UUID names
// each row alone, and the rows still waiting for a server are found by index.
bool nameEarlierRuns(sqlite3* handle, std::string& error) {
    std::vector<std::pair<std::int64_t, std::string>> rows;
    {
        Statement select(handle, "SELECT id, started FROM runs WHERE run_uuid = '';");
        if (!select.ready(error)) return false;
        int status = SQLITE_ROW;
        while ((status = select.step(error)) == SQLITE_ROW)
            rows.emplace_back(select.integer(0), select.text(1));
        if (status != SQLITE_DONE) return false;
    }
    Statement name(handle, "UPDATE runs SET run_uuid = ?, station = host WHERE id = ?;");
    if (!name.ready(error)) return false;
    for (const auto& [id, started] : rows) {
        name.reset();
        name.bind(1, RunId::make(parseIsoTime(started).value_or(WallTime{})).text());
        name.bind(2, id);
        if (name.step(error) != SQLITE_DONE) return false;
    }
    return execute(handle,
                   "CREATE UNIQUE INDEX runs_uuid ON runs (run_uuid);"
                   "CREATE INDEX runs_waiting ON runs (id) WHERE sent_to_server = '';",
                   error);
}

bool keepReportCounts(sqlite3* handle, std::string& error) {
    return execute(handle, reportCountsLayout(SqlDialect::Sqlite, kFileReportTables).c_str(), error);
}

HistoryRecord readRow(const Statement& statement) {
    HistoryRecord record;
    record.id = statement.integer(0);
    int column = 1;
    for (std::string* field : recordFields(record)) *field = statement.text(column++);
    record.unitId = statement.optionalText(column++);
    record.revision = statement.integer(column++);
    record.serverTime = statement.text(column);
    return record;
}

std::string selectRows() {
    return "SELECT id, " + columnList() + ", revision, sent_to_server FROM runs";
}

std::optional<std::vector<HistoryRecord>> readRows(Statement& statement, std::string& error) {
    std::vector<HistoryRecord> records;
    int status = SQLITE_ROW;
    while ((status = statement.step(error)) == SQLITE_ROW) records.push_back(readRow(statement));
    if (status != SQLITE_DONE) return std::nullopt;
    return records;
}

// The rows waiting for one server: those written for it, and for the station's
// own server also the real hubs' rows written when no server was named (a
// station that had none yet, or rows from before rows knew their server). A
// bench's rows go only where their own command named.
constexpr const char* kWaitingFor =
    " WHERE sent_to_server = '' AND (line_server = ?1 OR (?2 AND line_server = '' AND origin = ''))";

void bindWaitingFor(Statement& statement, const RowsFor& server) {
    statement.bind(1, server.server);
    statement.bind(2, static_cast<std::int64_t>(server.stationsOwn ? 1 : 0));
}

}  // namespace

std::unique_ptr<HistoryDatabase> HistoryDatabase::open(const std::string& path, std::string& error) {
    sqlite3* handle = nullptr;
    // NOFOLLOW: the file was checked to be no link; the flag keeps it so.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &handle, flags, nullptr) != SQLITE_OK) {
        error = handle != nullptr ? sqlite3_errmsg(handle) : "out of memory";
        sqlite3_close(handle);
        return nullptr;
    }
    std::unique_ptr<HistoryDatabase> database(new HistoryDatabase(handle));
    // A file crafted to exploit the reader gets no schema tricks past these.
    sqlite3_db_config(handle, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(handle, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_busy_handler(handle, waitForWriter, database.get());
    if (!addReportFunctions(handle, error)) return nullptr;
    const FileLock layoutLock = lockLayout(path, error);
    if (!layoutLock.held() || !database->layOut(error)) return nullptr;
    return database;
}

// Waits for another connection's write in short steps. SQLite's own busy handler
// sleeps 1, 2, 5, 10 ms and more between its looks, so a run's write that meets
// the sender's or another run's short write would wait milliseconds for one that
// ended in microseconds. Called with the connection's mutex held: one wait at a time.
int HistoryDatabase::waitForWriter(void* database, int attempt) {
    auto& self = *static_cast<HistoryDatabase*>(database);
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0) self.busySince_ = now;
    if (now - self.busySince_ >= kBusyTimeout) return 0;
    std::this_thread::sleep_for(attempt < 50 ? std::chrono::microseconds(100)
                                             : std::chrono::microseconds(2000));
    return 1;
}

HistoryDatabase::HistoryDatabase(sqlite3* handle) : handle_(handle) {}

HistoryDatabase::~HistoryDatabase() {
    // Finalised before the close, which leaves a connection with statements open.
    insertRun_.reset();
    updateRun_.reset();
    sqlite3_close(handle_);
}

SqliteStatement& HistoryDatabase::prepared(std::unique_ptr<SqliteStatement>& kept, const std::string& sql) {
    std::string failed;
    // One that failed to prepare (the file busy a moment) is prepared again.
    if (!kept || !kept->ready(failed)) kept = std::make_unique<SqliteStatement>(handle_, sql);
    kept->reset();
    return *kept;
}

bool HistoryDatabase::layOut(std::string& error) {
    // Write-ahead logging lets readers and one writer work at once; NORMAL
    // synchronisation keeps every committed row across a crash of the program.
    if (!execute(handle_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error)) return false;
    std::int64_t found = 0;
    {
        // Finished before the layout's write: a read left open would pin an old
        // snapshot, and a write from there fails at once instead of waiting its turn.
        Statement version(handle_, "PRAGMA user_version;");
        if (!version.ready(error) || version.step(error) != SQLITE_ROW) return false;
        found = version.integer(0);
    }
    if (found > kLayoutVersion) {
        error = "written by a newer version of this program (layout " + std::to_string(found) + ")";
        return false;
    }
    if (found == kLayoutVersion) return true;
    // One transaction from the layout found to the current one: a file is never
    // left between two layouts.
    SqliteTransaction transaction(handle_);
    return transaction.begin(error) && upgrade(found, error) && transaction.commit(error);
}

bool HistoryDatabase::upgrade(std::int64_t found, std::string& error) {
    if (found == 0 && !execute(handle_, kLayout, error)) return false;
    for (const LayoutUpgrade& step : kUpgrades) {
        if (step.version <= found) continue;
        if (!execute(handle_, step.sql, error)) return false;
        if (step.complete != nullptr && !step.complete(handle_, error)) return false;
    }
    const std::string version = "PRAGMA user_version=" + std::to_string(kLayoutVersion) + ";";
    return execute(handle_, version.c_str(), error);
}

std::optional<std::int64_t> HistoryDatabase::insert(const HistoryRecord& record, std::string& error) {
    std::lock_guard lock(mutex_);
    return insertLocked(record, error);
}

std::optional<std::int64_t> HistoryDatabase::insertLocked(const HistoryRecord& record, std::string& error) {
    std::string placeholders;
    for (std::size_t index = 0; index <= kColumns.size(); ++index) placeholders += index == 0 ? "?" : ", ?";
    Statement& statement =
        prepared(insertRun_, "INSERT INTO runs (" + columnList() + ") VALUES (" + placeholders + ");");
    if (!statement.ready(error)) return std::nullopt;
    HistoryRecord named = record;
    if (named.runUuid.empty())
        named.runUuid = RunId::make(parseIsoTime(named.started).value_or(wallNow())).text();
    int position = 1;
    for (const std::string* field : recordFields(named)) statement.bind(position++, *field);
    statement.bindOptional(position, named.unitId);
    const int status = statement.step(error);
    statement.reset();  // a statement left at its end would hold the file's write open
    if (status != SQLITE_DONE) return std::nullopt;
    return sqlite3_last_insert_rowid(handle_);
}

bool HistoryDatabase::update(const HistoryRecord& record, std::string& error) {
    std::lock_guard lock(mutex_);
    return updateLocked(record, error);
}

bool HistoryDatabase::updateLocked(const HistoryRecord& record, std::string& error) {
    // A row keeps the UUID it was written with: the server knows it by that.
    std::string assignments;
    for (const char* column : kColumns) {
        if (std::string_view(column) != "run_uuid")
            assignments += std::string(assignments.empty() ? "" : ", ") + column + " = ?";
    }
    Statement& statement =
        prepared(updateRun_, "UPDATE runs SET " + assignments + ", " + kUnitIdColumn +
                                 " = ?, revision = revision + 1, sent_to_server = '' WHERE id = ?;");
    if (!statement.ready(error)) return false;
    int position = 1;
    for (const std::string* field : recordFields(record)) {
        if (field != &record.runUuid) statement.bind(position++, *field);
    }
    statement.bindOptional(position++, record.unitId);
    statement.bind(position, record.id);
    const int status = statement.step(error);
    statement.reset();
    if (status != SQLITE_DONE) return false;
    if (sqlite3_changes(handle_) != 1) {
        error = "the run's row " + std::to_string(record.id) + " is gone";
        return false;
    }
    return true;
}

bool HistoryDatabase::record(HistoryRecord& record, std::string& error) {
    std::lock_guard lock(mutex_);
    if (record.id != 0) return updateLocked(record, error);
    if (record.runUuid.empty())
        record.runUuid = RunId::make(parseIsoTime(record.started).value_or(wallNow())).text();
    const std::optional<std::int64_t> id = insertLocked(record, error);
    if (id) record.id = *id;
    return id.has_value();
}

std::optional<std::vector<HistoryRecord>> HistoryDatabase::list(const HistoryFilter& filter,
                                                                std::string& error) {
    std::lock_guard lock(mutex_);
    std::string sql = selectRows() + " WHERE started >= ?";
    if (!filter.port.empty()) sql += " AND port = ?";
    if (!filter.station.empty()) sql += " AND station = ?";
    // A unit is found by the serial its image gave it or the one it reported.
    if (!filter.serial.empty()) sql += " AND (hub_serial = ? OR image_serial = ?)";
    if (filter.origin) sql += " AND origin = ?";
    if (!filter.unitId.empty()) sql += " AND unit_id = ?";
    Statement statement(handle_, sql + " ORDER BY started, id;");
    if (!statement.ready(error)) return std::nullopt;
    int position = 1;
    statement.bind(position++, filter.since);
    if (!filter.port.empty()) statement.bind(position++, filter.port);
    if (!filter.station.empty()) statement.bind(position++, filter.station);
    if (!filter.serial.empty()) {
        statement.bind(position++, filter.serial);
        statement.bind(position++, filter.serial);
    }
    if (filter.origin) statement.bind(position++, *filter.origin);
    if (!filter.unitId.empty()) statement.bind(position++, filter.unitId);
    return readRows(statement, error);
}

std::optional<std::vector<ReportLine>> HistoryDatabase::report(const ReportRequest& request,
                                                               std::string& error) {
    std::lock_guard lock(mutex_);
    // One read transaction: the report's statements see the same rows, while
    // runs go on writing beside it.
    if (!execute(handle_, "BEGIN;", error)) return std::nullopt;
    SqliteReportSource source(handle_);
    std::optional<std::vector<ReportLine>> report = reportFrom(source, request, error);
    std::string ignored;
    execute(handle_, report ? "COMMIT;" : "ROLLBACK;", ignored);
    return report;
}

std::optional<std::vector<HistoryRecord>> HistoryDatabase::unsent(const RowsFor& server, std::size_t limit,
                                                                  std::string& error) {
    std::lock_guard lock(mutex_);
    Statement statement(handle_, selectRows() + kWaitingFor + " ORDER BY id LIMIT ?;");
    if (!statement.ready(error)) return std::nullopt;
    bindWaitingFor(statement, server);
    statement.bind(3, static_cast<std::int64_t>(limit));
    return readRows(statement, error);
}

std::optional<WaitingRows> HistoryDatabase::waiting(const RowsFor& server, std::string& error) {
    std::lock_guard lock(mutex_);
    Statement statement(
        handle_, std::string("SELECT COUNT(*), COALESCE(MIN(CASE WHEN ended = '' THEN started ELSE ended "
                             "END), '') FROM runs") +
                     kWaitingFor + ";");
    if (!statement.ready(error)) return std::nullopt;
    bindWaitingFor(statement, server);
    if (statement.step(error) != SQLITE_ROW) return std::nullopt;
    return WaitingRows{static_cast<std::uint64_t>(statement.integer(0)), statement.text(1)};
}

bool HistoryDatabase::markSent(const std::vector<HistoryRecord>& rows, const std::string& serverTime,
                               std::string& error) {
    std::lock_guard lock(mutex_);
    Statement statement(handle_, "UPDATE runs SET sent_to_server = ? WHERE run_uuid = ? AND revision = ?;");
    if (!statement.ready(error)) return false;
    // A few rows per transaction: a run's write that meets one waits for a short
    // transaction only. A mark that is lost with a later chunk is sent again, to
    // no effect on the server.
    constexpr std::size_t kRowsPerTransaction = 32;
    for (std::size_t first = 0; first < rows.size(); first += kRowsPerTransaction) {
        SqliteTransaction transaction(handle_);
        if (!transaction.begin(error)) return false;
        bool marked = true;
        const std::size_t end = std::min(rows.size(), first + kRowsPerTransaction);
        for (std::size_t index = first; marked && index < end; ++index) {
            statement.reset();
            statement.bind(1, serverTime);
            statement.bind(2, rows[index].runUuid);
            statement.bind(3, rows[index].revision);
            marked = statement.step(error) == SQLITE_DONE;
        }
        statement.reset();  // a statement left running would hold the transaction open
        if (!marked || !transaction.commit(error)) return false;
    }
    return true;
}

bool HistoryDatabase::deferCheckpoints(std::string& error) {
    std::lock_guard lock(mutex_);
    return execute(handle_, "PRAGMA wal_autocheckpoint=0;", error);
}

bool HistoryDatabase::checkpoint(std::string& error) {
    std::lock_guard lock(mutex_);
    // PASSIVE first: it copies what it can and keeps nobody waiting. Then
    // RESTART for the few pages written meanwhile, so that the next write
    // begins the log from its start: a station whose runs never pause (a
    // passive checkpoint never catches up with them) still keeps its log, and
    // its index in memory, as short as the checkpoints' interval. A write may
    // wait for those few pages and one flush, once per checkpoint.
    return execute(handle_, "PRAGMA wal_checkpoint(PASSIVE);", error) &&
           execute(handle_, "PRAGMA wal_checkpoint(RESTART);", error);
}

}  // namespace velmora::history
