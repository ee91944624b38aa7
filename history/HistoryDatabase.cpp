#include "history/HistoryDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "history/SerialTables.h"

namespace velmora::history {
namespace {

// Bumped whenever the layout changes; a newer program migrates an older file.
// The layout of version 1 is made first, then every upgrade step after it in
// turn, so a new file and an upgraded one end with the very same tables.
constexpr int kLayoutVersion = 3;

struct LayoutUpgrade {
    int version;  // the layout this step leads to
    const char* sql;
};

// One step per version after the first; later layouts add theirs at the end.
constexpr std::array<LayoutUpgrade, 2> kUpgrades = {{
    // 2: the run's flash backup, taken before the erase, and for a recovery the
    // run it recovered.
    {2,
     "ALTER TABLE runs ADD COLUMN backup_sha256 TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE runs ADD COLUMN recovered_run TEXT NOT NULL DEFAULT '';"},
    // 3: production serial numbers, and the serial the hub reported.
    {3, kSerialTablesLayout},
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

// The columns after id, in the order every statement below binds and reads them.
constexpr std::array<const char*, 17> kColumns = {
    "operation",      "started",       "ended",         "host",          "port",         "hub_ids",
    "version_before", "version_after", "image_path",    "image_sha256",  "image_serial", "phases",
    "result",         "failure",       "backup_sha256", "recovered_run", "hub_serial"};

std::array<const std::string*, kColumns.size()> fieldsOf(const HistoryRecord& record) {
    return {&record.operation, &record.started,     &record.ended,         &record.host,
            &record.port,      &record.hubIds,      &record.versionBefore, &record.versionAfter,
            &record.imagePath, &record.imageSha256, &record.imageSerial,   &record.phases,
            &record.result,    &record.failure,     &record.backupSha256,  &record.recoveredRun,
            &record.hubSerial};
}

std::array<std::string*, kColumns.size()> fieldsOf(HistoryRecord& record) {
    return {&record.operation, &record.started,     &record.ended,         &record.host,
            &record.port,      &record.hubIds,      &record.versionBefore, &record.versionAfter,
            &record.imagePath, &record.imageSha256, &record.imageSerial,   &record.phases,
            &record.result,    &record.failure,     &record.backupSha256,  &record.recoveredRun,
            &record.hubSerial};
}

std::string columnList() {
    std::string list;
    for (const char* column : kColumns) list += std::string(list.empty() ? "" : ", ") + column;
    return list;
}

class Statement {
public:
    Statement(sqlite3* handle, const std::string& sql) : handle_(handle) {
        if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK)
            statement_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ready(std::string& error) const {
        if (statement_ == nullptr) error = sqlite3_errmsg(handle_);
        return statement_ != nullptr;
    }
    void bind(int position, const std::string& text) {
        sqlite3_bind_text(statement_, position, text.c_str(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void bind(int position, std::int64_t value) { sqlite3_bind_int64(statement_, position, value); }
    // SQLITE_ROW, SQLITE_DONE or an error; error is set for the latter.
    int step(std::string& error) {
        const int status = sqlite3_step(statement_);
        if (status != SQLITE_ROW && status != SQLITE_DONE) error = sqlite3_errmsg(handle_);
        return status;
    }
    std::string text(int column) const {
        const unsigned char* value = sqlite3_column_text(statement_, column);
        return value == nullptr ? std::string{} : reinterpret_cast<const char*>(value);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }

private:
    sqlite3* handle_;
    sqlite3_stmt* statement_ = nullptr;
};

bool execute(sqlite3* handle, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(handle, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : sqlite3_errmsg(handle);
    sqlite3_free(message);
    return false;
}

// Serialises the first steps of every open on one file: switching a new file to
// the write-ahead log and laying out its tables. Two processes doing that at the
// same moment on a file nobody has laid out can each see the other's half-made
// header, and SQLite then fails one of them at once ("database is locked", or no
// table) instead of letting it wait its turn. The lock is an flock on the
// history's own folder, which only its owner can open, so no other user can hold
// it; it never touches SQLite's own locks on the database file (closing another
// descriptor of that file would drop them). Held for milliseconds; a holder that
// hangs is waited for no longer than SQLite's own busy timeout.
class LayoutLock {
public:
    explicit LayoutLock(const std::string& databasePath) {
        const std::filesystem::path folder = std::filesystem::path(databasePath).parent_path();
        descriptor_ = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~LayoutLock() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    LayoutLock(const LayoutLock&) = delete;
    LayoutLock& operator=(const LayoutLock&) = delete;

    bool acquire(std::chrono::milliseconds timeout, std::string& error) {
        if (descriptor_ < 0) {
            error = std::string("cannot open its folder: ") + std::strerror(errno);
            return false;
        }
        constexpr std::chrono::milliseconds kRetry{5};
        for (std::chrono::milliseconds waited{0};; waited += kRetry) {
            if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0) return true;
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            if (waited >= timeout) {
                error = "another program has been setting up this history for too long";
                return false;
            }
            std::this_thread::sleep_for(kRetry);
        }
        error = std::string("cannot lock its folder: ") + std::strerror(errno);
        return false;
    }

private:
    int descriptor_ = -1;
};

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
    sqlite3_busy_timeout(handle, static_cast<int>(kBusyTimeout.count()));
    LayoutLock layoutLock(path);
    if (!layoutLock.acquire(kBusyTimeout, error) || !database->layOut(error)) return nullptr;
    return database;
}

HistoryDatabase::~HistoryDatabase() {
    sqlite3_close(handle_);
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
    std::string layOut = "BEGIN IMMEDIATE;";
    if (found == 0) layOut += kLayout;
    for (const LayoutUpgrade& upgrade : kUpgrades) {
        if (upgrade.version > found) layOut += upgrade.sql;
    }
    layOut += "PRAGMA user_version=" + std::to_string(kLayoutVersion) + "; COMMIT;";
    if (execute(handle_, layOut.c_str(), error)) return true;
    std::string ignored;
    execute(handle_, "ROLLBACK;", ignored);
    return false;
}

std::optional<std::int64_t> HistoryDatabase::insert(const HistoryRecord& record, std::string& error) {
    std::string placeholders;
    for (std::size_t index = 0; index < kColumns.size(); ++index) placeholders += index == 0 ? "?" : ", ?";
    Statement statement(handle_, "INSERT INTO runs (" + columnList() + ") VALUES (" + placeholders + ");");
    if (!statement.ready(error)) return std::nullopt;
    int position = 1;
    for (const std::string* field : fieldsOf(record)) statement.bind(position++, *field);
    if (statement.step(error) != SQLITE_DONE) return std::nullopt;
    return sqlite3_last_insert_rowid(handle_);
}

bool HistoryDatabase::update(const HistoryRecord& record, std::string& error) {
    std::string assignments;
    for (const char* column : kColumns)
        assignments += std::string(assignments.empty() ? "" : ", ") + column + " = ?";
    Statement statement(handle_, "UPDATE runs SET " + assignments + " WHERE id = ?;");
    if (!statement.ready(error)) return false;
    int position = 1;
    for (const std::string* field : fieldsOf(record)) statement.bind(position++, *field);
    statement.bind(position, record.id);
    if (statement.step(error) != SQLITE_DONE) return false;
    if (sqlite3_changes(handle_) != 1) {
        error = "the run's row " + std::to_string(record.id) + " is gone";
        return false;
    }
    return true;
}

std::optional<std::vector<HistoryRecord>> HistoryDatabase::list(const HistoryFilter& filter,
                                                                std::string& error) {
    std::string sql = "SELECT id, " + columnList() + " FROM runs WHERE started >= ?";
    if (!filter.port.empty()) sql += " AND port = ?";
    // A unit is found by the serial its image gave it or the one it reported.
    if (!filter.serial.empty()) sql += " AND (hub_serial = ? OR image_serial = ?)";
    Statement statement(handle_, sql + " ORDER BY started, id;");
    if (!statement.ready(error)) return std::nullopt;
    int position = 1;
    statement.bind(position++, filter.since);
    if (!filter.port.empty()) statement.bind(position++, filter.port);
    if (!filter.serial.empty()) {
        statement.bind(position++, filter.serial);
        statement.bind(position++, filter.serial);
    }
    std::vector<HistoryRecord> records;
    int status = SQLITE_ROW;
    while ((status = statement.step(error)) == SQLITE_ROW) {
        HistoryRecord& record = records.emplace_back();
        record.id = statement.integer(0);
        int column = 1;
        for (std::string* field : fieldsOf(record)) *field = statement.text(column++);
    }
    if (status != SQLITE_DONE) return std::nullopt;
    return records;
}

}  // namespace velmora::history
