#include "history/PostgresSerialCounter.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/TextFormat.h"
#include "history/HistoryLocation.h"
#include "history/PostgresResult.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::history {
namespace {

// A station name's lock key: a 64-bit hash of the name, apart from the keys of
// anything else by its leading words. Two names sharing a hash would refuse
// each other; at 64 bits a line never meets that.
constexpr const char* kNameKey = "hashtextextended('velmora station ' || $1, 0)";

PostgresResult runParams(pg_conn* connection, const std::string& sql,
                         const std::vector<std::string>& values) {
    std::vector<const char*> pointers;
    for (const std::string& value : values) pointers.push_back(value.c_str());
    return PostgresResult(PQexecParams(connection, sql.c_str(), static_cast<int>(pointers.size()), nullptr,
                                       pointers.data(), nullptr, nullptr, 0));
}

// Rolls back a transaction left open on any failing path.
class ServerTransaction {
public:
    explicit ServerTransaction(pg_conn* connection) : connection_(connection) {}
    ~ServerTransaction() {
        if (open_) PQclear(PQexec(connection_, "ROLLBACK;"));
    }
    ServerTransaction(const ServerTransaction&) = delete;
    ServerTransaction& operator=(const ServerTransaction&) = delete;
    bool begin() { return open_ = PostgresResult(PQexec(connection_, "BEGIN;")).is(PGRES_COMMAND_OK); }
    bool commit() {
        open_ = false;
        return PostgresResult(PQexec(connection_, "COMMIT;")).is(PGRES_COMMAND_OK);
    }

private:
    pg_conn* connection_;
    bool open_ = false;
};

}  // namespace

std::unique_ptr<PostgresSerialCounter> PostgresSerialCounter::connect(const std::string& uri,
                                                                      std::string& error) {
    std::unique_ptr<PostgresHistory> server = PostgresHistory::connect(uri, error);
    if (!server) return nullptr;
    return std::unique_ptr<PostgresSerialCounter>(new PostgresSerialCounter(std::move(server)));
}

std::string PostgresSerialCounter::failure() const {
    return server_->failure();
}

bool PostgresSerialCounter::execute(const char* sql, const std::vector<std::string>& values,
                                    std::string& error) {
    const PostgresResult result = runParams(server_->connection(), sql, values);
    if (result.is(PGRES_COMMAND_OK) || result.is(PGRES_TUPLES_OK)) return true;
    error = failure();
    return false;
}

bool PostgresSerialCounter::reachable(std::string& error) {
    if (nameLost_) {
        error = formatText(messages::kStationNameTakenFormat, station_.c_str());
        return false;
    }
    pg_conn* connection = server_->connection();
    if (PQstatus(connection) == CONNECTION_OK) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastReconnect_ < kSerialReconnectPause) {
        error = failure();
        return false;
    }
    lastReconnect_ = now;
    PQreset(connection);
    if (PQstatus(connection) != CONNECTION_OK) {
        error = failure();
        return false;
    }
    // The name's lock went with the old session: take it again, or another
    // station of the name has started meanwhile and this one must not go on.
    if (!station_.empty() && !lockName(station_, error)) {
        nameLost_ = true;  // not this station's any more: nothing of it may be written
        return false;
    }
    return true;
}

bool PostgresSerialCounter::lockName(const std::string& station, std::string& error) {
    // A station that has just ended or died holds its name until the server has
    // ended its session, a moment after the connection closed; so a name found
    // taken is asked for again for a short while before the station is refused.
    constexpr int kTries = 15;
    constexpr auto kPause = std::chrono::milliseconds(200);
    for (int attempt = 1;; ++attempt) {
        const PostgresResult taken = runParams(
            server_->connection(), std::string("SELECT pg_try_advisory_lock(") + kNameKey + ");", {station});
        if (!taken.is(PGRES_TUPLES_OK) || taken.rows() != 1) {
            error = failure();
            return false;
        }
        if (taken.text(0, 0) == "t") return true;
        if (attempt == kTries) break;
        std::this_thread::sleep_for(kPause);
    }
    error = formatText(messages::kStationNameTakenFormat, station.c_str());
    return false;
}

bool PostgresSerialCounter::beginStation(const std::string& station, std::string& error) {
    std::lock_guard lock(mutex_);
    if (station.empty() || station.size() > kStationNameMost) {
        error = formatText("a station's name has 1 to %zu bytes", kStationNameMost);
        return false;
    }
    if (!station_.empty()) {
        error = "this connection already runs a station";
        return false;
    }
    if (!reachable(error) || !lockName(station, error)) return false;
    if (voidOpenNumbers(station, error)) {
        station_ = station;
        return true;
    }
    std::string ignored;
    execute((std::string("SELECT pg_advisory_unlock(") + kNameKey + ");").c_str(), {station}, ignored);
    return false;
}

bool PostgresSerialCounter::voidOpenNumbers(const std::string& station, std::string& error) {
    return execute(
        "UPDATE velmora_serial_numbers SET state = 'void', changed = now()"
        " WHERE station = $1 AND state IN ('reserved', 'issued');",
        {station}, error);
}

std::optional<SerialBlock> PostgresSerialCounter::reserveBlock(const std::string& station,
                                                               const std::string& prefix, std::uint64_t start,
                                                               std::uint64_t last, std::uint64_t count,
                                                               std::string& error) {
    std::lock_guard lock(mutex_);
    if (!reachable(error)) return std::nullopt;
    pg_conn* connection = server_->connection();
    ServerTransaction transaction(connection);
    if (!transaction.begin()) {
        error = failure();
        return std::nullopt;
    }
    // The counter's row, made when the prefix is new, then held until commit:
    // a second station reserving the same prefix waits here for this one.
    if (!execute("INSERT INTO velmora_serial_counters (prefix, next_number) VALUES ($1, $2::bigint)"
                 " ON CONFLICT (prefix) DO NOTHING;",
                 {prefix, std::to_string(start)}, error))
        return std::nullopt;
    const PostgresResult counter =
        runParams(connection, "SELECT next_number FROM velmora_serial_counters WHERE prefix = $1 FOR UPDATE;",
                  {prefix});
    if (!counter.is(PGRES_TUPLES_OK) || counter.rows() != 1) {
        error = failure();
        return std::nullopt;
    }
    SerialBlock block{std::max(start, static_cast<std::uint64_t>(std::stoull(counter.text(0, 0)))), 0};
    if (block.first <= last) block.count = std::min(count, last - block.first + 1);
    if (block.count > 0 &&
        !execute(
            "INSERT INTO velmora_serial_numbers (prefix, number, station, state)"
            " SELECT $1, n, $2, 'reserved' FROM generate_series($3::bigint, $4::bigint) AS n;",
            {prefix, station, std::to_string(block.first), std::to_string(block.first + block.count - 1)},
            error))
        return std::nullopt;
    if (!execute("UPDATE velmora_serial_counters SET next_number = $2::bigint WHERE prefix = $1;",
                 {prefix, std::to_string(block.first + block.count)}, error))
        return std::nullopt;
    if (!transaction.commit()) {
        error = failure();
        return std::nullopt;
    }
    return block;
}

bool PostgresSerialCounter::markNumber(const std::string& prefix, std::uint64_t number, SerialState state,
                                       std::string& error) {
    std::lock_guard lock(mutex_);
    return reachable(error) && execute(
                                   "UPDATE velmora_serial_numbers SET state = $1, changed = now()"
                                   " WHERE prefix = $2 AND number = $3::bigint;",
                                   {serialStateName(state), prefix, std::to_string(number)}, error);
}

bool PostgresSerialCounter::endStation(const std::string& station, std::string& error) {
    std::lock_guard lock(mutex_);
    const bool voided = reachable(error) && voidOpenNumbers(station, error);
    // A session that broke has let the name go already.
    if (PQstatus(server_->connection()) == CONNECTION_OK) {
        std::string ignored;
        execute((std::string("SELECT pg_advisory_unlock(") + kNameKey + ");").c_str(), {station}, ignored);
    }
    station_.clear();
    nameLost_ = false;
    return voided;
}

std::optional<std::vector<SerialNumberRow>> PostgresSerialCounter::numbers(const std::string& prefix,
                                                                           std::string& error) {
    std::lock_guard lock(mutex_);
    if (!reachable(error)) return std::nullopt;
    const PostgresResult result =
        runParams(server_->connection(),
                  "SELECT prefix, number, station, state FROM velmora_serial_numbers"
                  " WHERE $1 = '' OR prefix = $1 ORDER BY prefix, number;",
                  {prefix});
    if (!result.is(PGRES_TUPLES_OK)) {
        error = failure();
        return std::nullopt;
    }
    std::vector<SerialNumberRow> rows;
    for (int row = 0; row < result.rows(); ++row)
        rows.push_back({result.text(row, 0), std::stoull(result.text(row, 1)), result.text(row, 2),
                        result.text(row, 3)});
    return rows;
}

}  // namespace velmora::history
