#include "history/SerialCounter.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/TextFormat.h"
#include "history/HistoryFile.h"
#include "history/IsoTime.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::history {
namespace {

// A prepared statement that is finalised on every path.
class Query {
public:
    Query(sqlite3* handle, const char* sql) : handle_(handle) {
        if (sqlite3_prepare_v2(handle, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
    }
    ~Query() { sqlite3_finalize(statement_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& text(int position, const std::string& value) {
        sqlite3_bind_text(statement_, position, value.c_str(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Query& number(int position, std::uint64_t value) {
        sqlite3_bind_int64(statement_, position, static_cast<sqlite3_int64>(value));
        return *this;
    }
    // SQLITE_ROW or SQLITE_DONE; anything else sets error.
    int step(std::string& error) {
        const int status = statement_ == nullptr ? SQLITE_ERROR : sqlite3_step(statement_);
        if (status != SQLITE_ROW && status != SQLITE_DONE) error = sqlite3_errmsg(handle_);
        return status;
    }
    bool run(std::string& error) { return step(error) == SQLITE_DONE; }
    std::uint64_t numberAt(int column) const {
        return static_cast<std::uint64_t>(sqlite3_column_int64(statement_, column));
    }
    std::string textAt(int column) const {
        const unsigned char* value = sqlite3_column_text(statement_, column);
        return value == nullptr ? std::string{} : reinterpret_cast<const char*>(value);
    }

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
    std::string path = databasePath + ".station-";
    for (unsigned char character : station) path += formatText("%02x", character);
    return path + ".lock";
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
    Query query(database_->handle(),
                "UPDATE serial_numbers SET state = 'void', changed = ?"
                " WHERE station = ? AND state IN ('reserved', 'issued');");
    return query.text(1, now()).text(2, station).run(error);
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
        Query counter(handle, "SELECT next_number FROM serial_counters WHERE prefix = ?;");
        const int status = counter.text(1, prefix).step(error);
        if (status == SQLITE_ROW) {
            block.first = std::max(start, counter.numberAt(0));
        } else if (status != SQLITE_DONE) {
            return std::nullopt;
        }
    }
    if (block.first <= last) block.count = std::min(count, last - block.first + 1);
    const std::string changed = now();
    for (std::uint64_t offset = 0; offset < block.count; ++offset) {
        Query number(handle,
                     "INSERT INTO serial_numbers (prefix, number, station, state, changed)"
                     " VALUES (?, ?, ?, 'reserved', ?);");
        if (!number.text(1, prefix)
                 .number(2, block.first + offset)
                 .text(3, station)
                 .text(4, changed)
                 .run(error))
            return std::nullopt;
    }
    Query advance(handle,
                  "INSERT INTO serial_counters (prefix, next_number) VALUES (?, ?)"
                  " ON CONFLICT (prefix) DO UPDATE SET next_number = excluded.next_number;");
    if (!advance.text(1, prefix).number(2, block.first + block.count).run(error)) return std::nullopt;
    if (!transaction.commit(error)) return std::nullopt;
    return block;
}

bool SerialCounter::markNumber(const std::string& prefix, std::uint64_t number, SerialState state,
                               std::string& error) {
    std::lock_guard lock(mutex_);
    Query query(database_->handle(),
                "UPDATE serial_numbers SET state = ?, changed = ? WHERE prefix = ? AND number = ?;");
    return query.text(1, serialStateName(state)).text(2, now()).text(3, prefix).number(4, number).run(error);
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
    Query query(database_->handle(),
                "SELECT prefix, number, station, state FROM serial_numbers"
                " WHERE ? = '' OR prefix = ? ORDER BY prefix, number;");
    query.text(1, prefix).text(2, prefix);
    std::vector<SerialNumberRow> rows;
    int status = SQLITE_ROW;
    while ((status = query.step(error)) == SQLITE_ROW)
        rows.push_back({query.textAt(0), query.numberAt(1), query.textAt(2), query.textAt(3)});
    if (status != SQLITE_DONE) return std::nullopt;
    return rows;
}

}  // namespace velmora::history
