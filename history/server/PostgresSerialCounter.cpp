#include "history/server/PostgresSerialCounter.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>

#include "app/TextFormat.h"
#include "app/Utf8.h"
#include "history/server/PostgresResult.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::history {
namespace {

// A station name's lock key: a 64-bit hash of the name, apart from the keys of
// anything else by its leading words. Two names sharing a hash would refuse
// each other; at 64 bits a line never meets that.
constexpr const char* kNameKey = "hashtextextended('velmora station ' || $1, 0)";

PostgresResult runParams(pg_conn* connection, const std::string& sql,
                         const std::vector<std::string>& values) {
    // As UTF-8, as the server takes text (a station name in Latin-1 included).
    std::vector<std::string> texts;
    for (const std::string& value : values) texts.push_back(withValidUtf8(value));
    std::vector<const char*> pointers;
    for (const std::string& text : texts) pointers.push_back(text.c_str());
    return PostgresResult(
        execParamsBounded(connection, sql.c_str(), static_cast<int>(pointers.size()), pointers.data()));
}

// PostgreSQL's array literals of the marks' prefixes and numbers, every
// prefix quoted so that no character of it can end its element.
std::pair<std::string, std::string> arraysOf(const std::vector<SerialMark>& marks) {
    std::string prefixes = "{";
    std::string numbers = "{";
    for (const SerialMark& mark : marks) {
        if (prefixes.size() > 1) {
            prefixes += ',';
            numbers += ',';
        }
        prefixes += '"';
        for (const char c : mark.prefix) {
            if (c == '"' || c == '\\') prefixes += '\\';
            prefixes += c;
        }
        prefixes += '"';
        numbers += std::to_string(mark.number);
    }
    return {prefixes + "}", numbers + "}"};
}

}  // namespace

PostgresSerialCounter::PostgresSerialCounter(std::shared_ptr<PostgresHistory> server, RunOrigin origin,
                                             std::shared_ptr<StationFile> file)
    : server_(std::move(server)), origin_(storedOrigin(origin)), file_(std::move(file)) {}

std::unique_ptr<PostgresSerialCounter> PostgresSerialCounter::connect(const std::string& uri,
                                                                      std::string& error, RunOrigin origin) {
    std::shared_ptr<PostgresHistory> server = PostgresHistory::connect(uri, error);
    if (!server) return nullptr;
    return std::make_unique<PostgresSerialCounter>(std::move(server), origin);
}

bool PostgresSerialCounter::execute(pg_conn* connection, const char* sql,
                                    const std::vector<std::string>& values, std::string& error) {
    const PostgresResult result = runParams(connection, sql, values);
    if (result.is(PGRES_COMMAND_OK) || result.is(PGRES_TUPLES_OK)) return true;
    error = server_->failure();
    return false;
}

bool PostgresSerialCounter::useAsStation(const PostgresHistory::Work& work, std::string& error) {
    if (nameLost_) {
        error = formatText(messages::kStationNameTakenFormat, station_.c_str());
        return false;
    }
    return server_->use(
        [&](pg_conn* connection, std::string& failed) {
            // The name's lock went with an old session: take it again, or another
            // station of the name has started meanwhile and this one must not go on.
            if (!station_.empty() && server_->sessions() != nameSession_) {
                if (!lockName(connection, station_, failed)) {
                    nameLost_ = true;  // not this station's any more: nothing of it may be written
                    return false;
                }
                nameSession_ = server_->sessions();
            }
            return work(connection, failed);
        },
        error);
}

bool PostgresSerialCounter::lockName(pg_conn* connection, const std::string& station, std::string& error) {
    // A station that has just ended or died holds its name until the server has
    // ended its session, a moment after the connection closed; so a name found
    // taken is asked for again for a short while before the station is refused.
    constexpr int kTries = 15;
    constexpr auto kPause = std::chrono::milliseconds(200);
    for (int attempt = 1;; ++attempt) {
        const PostgresResult taken =
            runParams(connection, std::string("SELECT pg_try_advisory_lock(") + kNameKey + ");", {station});
        if (!taken.is(PGRES_TUPLES_OK) || taken.rows() != 1) {
            error = server_->failure();
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
    if (!server_->use(
            [&](pg_conn* connection, std::string& failed) { return lockName(connection, station, failed); },
            error))
        return false;
    station_ = station;
    nameSession_ = server_->sessions();
    // What a station of this name left in the file for this server goes first:
    // a number whose unit passed is never voided. Marks that cannot be sent
    // void nothing: the station does not start.
    std::size_t waiting = 0;
    std::optional<std::vector<SerialMark>> passed;
    if (sendKeptLocked(station, waiting, error) && (passed = passedWaiting(station, error)) &&
        useAsStation(
            [&](pg_conn* connection, std::string& failed) {
                return voidOpenNumbers(connection, station, *passed, failed);
            },
            error))
        return true;
    letNameGo(station);
    return false;
}

void PostgresSerialCounter::letNameGo(const std::string& station) {
    std::string ignored;
    server_->use(
        [&](pg_conn* connection, std::string& failed) {
            return execute(connection, (std::string("SELECT pg_advisory_unlock(") + kNameKey + ");").c_str(),
                           {station}, failed);
        },
        ignored);
    station_.clear();
    nameLost_ = false;
}

bool PostgresSerialCounter::voidOpenNumbers(pg_conn* connection, const std::string& station,
                                            const std::vector<SerialMark>& passed, std::string& error) {
    const auto [prefixes, numbers] = arraysOf(passed);
    return execute(connection,
                   "UPDATE velmora_serial_numbers SET state = 'void', changed = now()"
                   " WHERE origin = $1 AND station = $2 AND state IN ('reserved', 'issued')"
                   " AND (prefix, number) NOT IN (SELECT * FROM unnest($3::text[], $4::bigint[]));",
                   {origin_, station, prefixes, numbers}, error);
}

std::optional<std::vector<SerialMark>> PostgresSerialCounter::passedWaiting(const std::string& station,
                                                                            std::string& error) {
    std::vector<SerialMark> passed;
    if (!file_) return passed;
    const std::optional<std::vector<SerialMark>> kept =
        waitingMarks(file_->database(), server_->identity(), {station, origin_}, 0, SIZE_MAX, error);
    if (!kept) return std::nullopt;
    for (const SerialMark& mark : *kept)
        if (mark.state == serialStateName(SerialState::Used)) passed.push_back(mark);
    return passed;
}

bool PostgresSerialCounter::keepMark(const std::string& station, const std::string& prefix,
                                     std::uint64_t number, SerialState state, const RunId& run,
                                     std::string& error) {
    if (!file_) return false;
    SerialMark mark;
    mark.lineServer = server_->identity();
    mark.origin = origin_;
    mark.station = station;
    mark.prefix = prefix;
    mark.number = number;
    mark.state = serialStateName(state);
    mark.run = run.text();
    return history::keepMark(file_->database(), mark, error);
}

bool PostgresSerialCounter::sendKeptMarks(const std::string& station, std::size_t& waiting,
                                          std::string& error) {
    return sendKeptLocked(station, waiting, error);
}

bool PostgresSerialCounter::sendKeptLocked(const std::string& station, std::size_t& waiting,
                                           std::string& error) {
    waiting = 0;
    if (!file_) return true;
    std::lock_guard lock(marksMutex_);
    const MarksFor which{station, origin_};
    const bool sent = sendWaitingMarks(file_->database(), *server_, which, refused_, error).has_value();
    // Counted either way: a station that ends says how many still wait.
    std::string unread;
    const std::optional<std::size_t> left =
        countWaitingMarks(file_->database(), server_->identity(), which, sent ? error : unread);
    waiting = left.value_or(0);
    return sent && left.has_value();
}

std::optional<SerialBlock> PostgresSerialCounter::reserveBlock(const std::string& station,
                                                               const std::string& prefix, std::uint64_t start,
                                                               std::uint64_t last, std::uint64_t count,
                                                               std::string& error) {
    std::lock_guard lock(mutex_);
    std::optional<SerialBlock> reserved;
    const auto work = [&](pg_conn* connection, std::string& failed) {
        PostgresTransaction transaction(connection);
        if (!transaction.begin()) {
            failed = server_->failure();
            return false;
        }
        // Prefixes are looked at one station at a time (a new one's row is not
        // seen by another transaction until commit): the serial text is what
        // must be single, not (prefix, number).
        if (!execute(connection,
                     "SELECT pg_advisory_xact_lock(hashtextextended('velmora serial prefixes', 0));", {},
                     failed))
            return false;
        const PostgresResult others = runParams(
            connection, "SELECT prefix FROM velmora_serial_counters WHERE origin = $1 AND prefix <> $2;",
            {origin_, prefix});
        if (!others.is(PGRES_TUPLES_OK)) {
            failed = server_->failure();
            return false;
        }
        std::vector<std::string> prefixes;
        for (int row = 0; row < others.rows(); ++row) prefixes.push_back(others.text(row, 0));
        if (prefixClashes(prefix, prefixes, failed)) return false;
        // The counter's row, made when the prefix is new, then held until commit:
        // a second station reserving the same prefix waits here for this one.
        if (!execute(connection,
                     "INSERT INTO velmora_serial_counters (origin, prefix, next_number) VALUES ($1, $2, "
                     "$3::bigint)"
                     " ON CONFLICT (origin, prefix) DO NOTHING;",
                     {origin_, prefix, std::to_string(start)}, failed))
            return false;
        const PostgresResult counter = runParams(connection,
                                                 "SELECT next_number FROM velmora_serial_counters"
                                                 " WHERE origin = $1 AND prefix = $2 FOR UPDATE;",
                                                 {origin_, prefix});
        if (!counter.is(PGRES_TUPLES_OK) || counter.rows() != 1) {
            failed = server_->failure();
            return false;
        }
        SerialBlock block{std::max(start, static_cast<std::uint64_t>(std::stoull(counter.text(0, 0)))), 0};
        if (block.first <= last) block.count = std::min(count, last - block.first + 1);
        if (block.count > 0 &&
            !execute(connection,
                     "INSERT INTO velmora_serial_numbers (origin, prefix, number, station, state)"
                     " SELECT $1, $2, n, $3, 'reserved' FROM generate_series($4::bigint, $5::bigint) AS n;",
                     {origin_, prefix, station, std::to_string(block.first),
                      std::to_string(block.first + block.count - 1)},
                     failed))
            return false;
        if (!execute(connection,
                     "UPDATE velmora_serial_counters SET next_number = $3::bigint WHERE origin = $1 AND "
                     "prefix = $2;",
                     {origin_, prefix, std::to_string(block.first + block.count)}, failed))
            return false;
        if (!transaction.commit()) {
            failed = server_->failure();
            return false;
        }
        reserved = block;
        return true;
    };
    if (!useAsStation(work, error)) return std::nullopt;
    return reserved;
}

bool PostgresSerialCounter::markNumber(const std::string& prefix, std::uint64_t number, SerialState state,
                                       const RunId& run, std::string& error) {
    std::lock_guard lock(mutex_);
    SerialMark mark;
    mark.origin = origin_;
    mark.prefix = prefix;
    mark.number = number;
    mark.state = serialStateName(state);
    mark.run = run.text();
    return useAsStation(
        [&](pg_conn* connection, std::string& failed) {
            if (writeMarkOnServer(connection, mark)) return true;
            failed = server_->failure();
            return false;
        },
        error);
}

bool PostgresSerialCounter::endStation(const std::string& station, std::string& error) {
    std::lock_guard lock(mutex_);
    std::optional<std::vector<SerialMark>> passed = passedWaiting(station, error);
    if (!passed) return false;
    const bool voided = useAsStation(
        [&](pg_conn* connection, std::string& failed) {
            const bool done = voidOpenNumbers(connection, station, *passed, failed);
            std::string ignored;
            execute(connection, (std::string("SELECT pg_advisory_unlock(") + kNameKey + ");").c_str(),
                    {station}, ignored);
            return done;
        },
        error);
    // A session that broke has let the name go already.
    station_.clear();
    nameLost_ = false;
    return voided;
}

std::optional<std::vector<SerialNumberRow>> PostgresSerialCounter::numbers(const std::string& prefix,
                                                                           std::string& error) {
    std::lock_guard lock(mutex_);
    std::vector<SerialNumberRow> rows;
    const bool listed = server_->use(
        [&](pg_conn* connection, std::string& failed) {
            const PostgresResult result = runParams(connection,
                                                    "SELECT prefix, number, station, state, run_uuid"
                                                    " FROM velmora_serial_numbers"
                                                    " WHERE origin = $1 AND ($2 = '' OR prefix = $2)"
                                                    " ORDER BY prefix, number;",
                                                    {origin_, prefix});
            if (!result.is(PGRES_TUPLES_OK)) {
                failed = server_->failure();
                return false;
            }
            for (int row = 0; row < result.rows(); ++row)
                rows.push_back({result.text(row, 0), std::stoull(result.text(row, 1)), result.text(row, 2),
                                result.text(row, 3), result.text(row, 4)});
            return true;
        },
        error);
    if (!listed) return std::nullopt;
    return rows;
}

std::optional<SerialNumberRow> PostgresSerialCounter::given(const std::string& serial, std::string& error) {
    std::lock_guard lock(mutex_);
    std::optional<SerialNumberRow> found;
    server_->use(
        [&](pg_conn* connection, std::string& failed) {
            const PostgresResult counters = runParams(
                connection, "SELECT prefix FROM velmora_serial_counters WHERE origin = $1;", {origin_});
            if (!counters.is(PGRES_TUPLES_OK)) {
                failed = server_->failure();
                return false;
            }
            std::vector<std::string> prefixes;
            for (int row = 0; row < counters.rows(); ++row) prefixes.push_back(counters.text(row, 0));
            const auto number = serialNumberOf(serial, prefixes);
            if (!number) return true;
            const PostgresResult result =
                runParams(connection,
                          "SELECT station, state, run_uuid FROM velmora_serial_numbers"
                          " WHERE origin = $1 AND prefix = $2 AND number = $3::bigint;",
                          {origin_, number->first, std::to_string(number->second)});
            if (!result.is(PGRES_TUPLES_OK)) {
                failed = server_->failure();
                return false;
            }
            if (result.rows() == 1)
                found = SerialNumberRow{number->first, number->second, result.text(0, 0), result.text(0, 1),
                                        result.text(0, 2)};
            return true;
        },
        error);
    return found;
}

}  // namespace velmora::history
