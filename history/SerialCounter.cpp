#include "history/SerialCounter.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/Hex.h"
#include "app/TextFormat.h"
#include "history/HistoryFile.h"
#include "history/IsoTime.h"
#include "history/SqliteStatement.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::history {
namespace {

bool execute(sqlite3* handle, const char* sql, std::string& error) {
    return sqliteExecute(handle, sql, error);
}

// Ends a transaction: committed when told so, else rolled back.
class Transaction {
public:
    explicit Transaction(sqlite3* handle) : handle_(handle) {}
    ~Transaction() {
        std::string ignored;
        if (open_) execute(handle_, "ROLLBACK;", ignored);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    // IMMEDIATE: the write lock from the start, so two stations reading the same
    // counter take turns instead of one failing at its first write.
    bool begin(std::string& error) { return open_ = execute(handle_, "BEGIN IMMEDIATE;", error); }
    bool commit(std::string& error) {
        if (!execute(handle_, "COMMIT;", error)) return false;
        open_ = false;
        return true;
    }

private:
    sqlite3* handle_;
    bool open_ = false;
};

std::string now() {
    return isoUtc(wallNow());
}

}  // namespace

std::string stationLockPath(const std::string& databasePath, const std::string& station) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(station.data());
    return databasePath + ".station-" + hexBytes({bytes, station.size()}, HexCase::Lower) + ".lock";
}

std::unique_ptr<SerialCounter> SerialCounter::open(const std::string& path, bool createFolders,
                                                   std::string& error) {
    if (path.empty()) {
        error = "no home folder to keep the history in";
        return nullptr;
    }
    const auto folders = createFolders ? FolderCreation::Create : FolderCreation::MustExist;
    if (!prepareHistoryFile(path, folders, error)) return nullptr;
    std::unique_ptr<HistoryDatabase> database = HistoryDatabase::open(path, error);
    if (!database) return nullptr;
    return std::unique_ptr<SerialCounter>(new SerialCounter(path, std::move(database)));
}

SerialCounter::SerialCounter(std::string path, std::unique_ptr<HistoryDatabase> database)
    : path_(std::move(path)), database_(std::move(database)) {}

SerialCounter::~SerialCounter() {
    if (stationLock_ >= 0) ::close(stationLock_);
}

bool SerialCounter::beginStation(const std::string& station, std::string& error) {
    std::lock_guard lock(mutex_);
    if (station.empty() || station.size() > kStationNameMost) {
        error = formatText("a station's name has 1 to %zu bytes", kStationNameMost);
        return false;
    }
    if (stationLock_ >= 0) {
        error = "this history already runs a station";
        return false;
    }
    // The history's folder is its owner's alone, so no other user can plant or
    // hold this file; NOFOLLOW keeps it a plain file of that folder.
    const std::string lockPath = stationLockPath(path_, station);
    const int descriptor = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        error = lockPath + ": " + std::strerror(errno);
        return false;
    }
    // Held per open file: a second station in this very process is refused too.
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? formatText(messages::kStationNameTakenFormat, station.c_str())
                                     : lockPath + ": " + std::strerror(errno);
        ::close(descriptor);
        return false;
    }
    stationLock_ = descriptor;
    if (voidOpenNumbers(station, error)) return true;
    ::close(stationLock_);
    stationLock_ = -1;
    return false;
}

bool SerialCounter::voidOpenNumbers(const std::string& station, std::string& error) {
    SqliteStatement query(database_->handle(),
                          "UPDATE serial_numbers SET state = 'void', changed = ?"
                          " WHERE station = ? AND state IN ('reserved', 'issued');");
    return query.bind(1, now()).bind(2, station).run(error);
}

std::optional<SerialBlock> SerialCounter::reserveBlock(const std::string& station, const std::string& prefix,
                                                       std::uint64_t start, std::uint64_t last,
                                                       std::uint64_t count, std::string& error) {
    std::lock_guard lock(mutex_);
    sqlite3* handle = database_->handle();
    Transaction transaction(handle);
    if (!transaction.begin(error)) return std::nullopt;
    SerialBlock block{start, 0};
    {
        SqliteStatement counter(handle, "SELECT next_number FROM serial_counters WHERE prefix = ?;");
        const int status = counter.bind(1, prefix).step(error);
        if (status == SQLITE_ROW) {
            block.first = std::max(start, static_cast<std::uint64_t>(counter.integer(0)));
        } else if (status != SQLITE_DONE) {
            return std::nullopt;
        }
    }
    if (block.first <= last) block.count = std::min(count, last - block.first + 1);
    const std::string changed = now();
    for (std::uint64_t offset = 0; offset < block.count; ++offset) {
        SqliteStatement number(handle,
                               "INSERT INTO serial_numbers (prefix, number, station, state, changed)"
                               " VALUES (?, ?, ?, 'reserved', ?);");
        if (!number.bind(1, prefix)
                 .bind(2, static_cast<std::int64_t>(block.first + offset))
                 .bind(3, station)
                 .bind(4, changed)
                 .run(error))
            return std::nullopt;
    }
    SqliteStatement advance(handle,
                            "INSERT INTO serial_counters (prefix, next_number) VALUES (?, ?)"
                            " ON CONFLICT (prefix) DO UPDATE SET next_number = excluded.next_number;");
    if (!advance.bind(1, prefix).bind(2, static_cast<std::int64_t>(block.first + block.count)).run(error))
        return std::nullopt;
    if (!transaction.commit(error)) return std::nullopt;
    return block;
}

bool SerialCounter::markNumber(const std::string& prefix, std::uint64_t number, SerialState state,
                               std::string& error) {
    std::lock_guard lock(mutex_);
    SqliteStatement query(
        database_->handle(),
        "UPDATE serial_numbers SET state = ?, changed = ? WHERE prefix = ? AND number = ?;");
    return query.bind(1, serialStateName(state))
        .bind(2, now())
        .bind(3, prefix)
        .bind(4, static_cast<std::int64_t>(number))
        .run(error);
}

bool SerialCounter::endStation(const std::string& station, std::string& error) {
    std::lock_guard lock(mutex_);
    const bool voided = voidOpenNumbers(station, error);
    if (stationLock_ >= 0) ::close(stationLock_);
    stationLock_ = -1;
    return voided;
}

std::optional<std::vector<SerialNumberRow>> SerialCounter::numbers(const std::string& prefix,
                                                                   std::string& error) {
    std::lock_guard lock(mutex_);
    SqliteStatement query(database_->handle(),
                          "SELECT prefix, number, station, state FROM serial_numbers"
                          " WHERE ? = '' OR prefix = ? ORDER BY prefix, number;");
    query.bind(1, prefix).bind(2, prefix);
    std::vector<SerialNumberRow> rows;
    int status = SQLITE_ROW;
    while ((status = query.step(error)) == SQLITE_ROW)
        rows.push_back(
            {query.text(0), static_cast<std::uint64_t>(query.integer(1)), query.text(2), query.text(3)});
    if (status != SQLITE_DONE) return std::nullopt;
    return rows;
}

}  // namespace velmora::history
