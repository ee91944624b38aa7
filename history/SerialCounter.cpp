#include "history/SerialCounter.h"

#include <fcntl.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "app/Hex.h"
#include "app/IsoTime.h"
#include "app/TextFormat.h"
#include "history/SqliteStatement.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::history {
namespace {

std::string now() {
    return isoUtc(wallNow());
}

}  // namespace

std::string stationLockPath(const std::string& databasePath, const std::string& station) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(station.data());
    return databasePath + ".station-" + hexBytes({bytes, station.size()}, HexCase::Lower) + ".lock";
}

SerialCounter::SerialCounter(std::shared_ptr<StationFile> file, RunOrigin origin)
    : file_(std::move(file)), origin_(storedOrigin(origin)) {}

std::unique_ptr<SerialCounter> SerialCounter::open(const std::string& path, FolderCreation creation,
                                                   std::string& error, RunOrigin origin) {
    std::shared_ptr<StationFile> file = StationFile::open(path, creation, error);
    if (!file) return nullptr;
    return std::make_unique<SerialCounter>(std::move(file), origin);
}

bool SerialCounter::beginStation(const std::string& station, std::string& error) {
    std::lock_guard lock(mutex_);
    if (station.empty() || station.size() > kStationNameMost) {
        error = formatText("a station's name has 1 to %zu bytes", kStationNameMost);
        return false;
    }
    if (stationLock_.held()) {
        error = "this history already runs a station";
        return false;
    }
    // The history's folder is its owner's alone, so no other user can plant or
    // hold this file; NOFOLLOW keeps it a plain file of that folder. Its own
    // file, never the database: an flock there would be harmless, but closing
    // its descriptor would drop SQLite's locks.
    const std::string lockPath = stationLockPath(file_->path(), station);
    FileLock held(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (held.descriptor() < 0) {
        error = lockPath + ": " + std::strerror(errno);
        return false;
    }
    // Held per open file: a second station in this very process is refused too.
    switch (held.take(LockWait::No)) {
        case FileLock::Outcome::Held: break;
        case FileLock::Outcome::Busy:
            error = formatText(messages::kStationNameTakenFormat, station.c_str());
            return false;
        case FileLock::Outcome::Failed: error = lockPath + ": " + std::strerror(errno); return false;
    }
    if (!voidOpenNumbers(station, error)) return false;
    stationLock_ = std::move(held);
    return true;
}

bool SerialCounter::voidOpenNumbers(const std::string& station, std::string& error) {
    return file_->database().exclusive([&](sqlite3* handle) {
        SqliteStatement query(handle,
                              "UPDATE serial_numbers SET state = 'void', changed = ?"
                              " WHERE origin = ? AND station = ? AND state IN ('reserved', 'issued');");
        return query.bind(1, now()).bind(2, origin_).bind(3, station).run(error);
    });
}

bool prefixesMayClash(const std::string& prefix, const std::string& other) {
    const auto digitsAfter = [](const std::string& longer, const std::string& shorter) {
        return longer.size() > shorter.size() && longer.compare(0, shorter.size(), shorter) == 0 &&
               std::all_of(longer.begin() + static_cast<std::ptrdiff_t>(shorter.size()), longer.end(),
                           [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    return digitsAfter(prefix, other) || digitsAfter(other, prefix);
}

bool prefixClashes(const std::string& prefix, const std::vector<std::string>& others, std::string& error) {
    for (const std::string& other : others) {
        if (!prefixesMayClash(prefix, other)) continue;
        error = formatText(messages::kSerialPrefixClashFormat, prefix.c_str(), other.c_str());
        return true;
    }
    return false;
}

std::optional<std::pair<std::string, std::uint64_t>> serialNumberOf(
    const std::string& serial, const std::vector<std::string>& prefixes) {
    for (const std::string& prefix : prefixes) {
        if (serial.size() <= prefix.size() || serial.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = serial.substr(prefix.size());
        // At most 18 digits: every such number fits, and a counter gives no more.
        if (digits.size() > 18 ||
            !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
            continue;
        return std::pair(prefix, static_cast<std::uint64_t>(std::stoull(digits)));
    }
    return std::nullopt;
}

std::optional<SerialBlock> SerialCounter::reserveBlock(const std::string& station, const std::string& prefix,
                                                       std::uint64_t start, std::uint64_t last,
                                                       std::uint64_t count, std::string& error) {
    std::lock_guard lock(mutex_);
    return file_->database().exclusive([&](sqlite3* handle) -> std::optional<SerialBlock> {
        SqliteTransaction transaction(handle);
        if (!transaction.begin(error)) return std::nullopt;
        SerialBlock block{start, 0};
        {
            // The serial text is what must be single, not (prefix, number).
            SqliteStatement others(handle,
                                   "SELECT prefix FROM serial_counters WHERE origin = ? AND prefix <> ?;");
            std::vector<std::string> prefixes;
            others.bind(1, origin_).bind(2, prefix);
            int status = SQLITE_ROW;
            while ((status = others.step(error)) == SQLITE_ROW) prefixes.push_back(others.text(0));
            if (status != SQLITE_DONE || prefixClashes(prefix, prefixes, error)) return std::nullopt;
        }
        {
            SqliteStatement counter(
                handle, "SELECT next_number FROM serial_counters WHERE origin = ? AND prefix = ?;");
            const int status = counter.bind(1, origin_).bind(2, prefix).step(error);
            if (status == SQLITE_ROW) {
                block.first = std::max(start, static_cast<std::uint64_t>(counter.integer(0)));
            } else if (status != SQLITE_DONE) {
                return std::nullopt;
            }
        }
        if (block.first <= last) block.count = std::min(count, last - block.first + 1);
        const std::string changed = now();
        SqliteStatement number(handle,
                               "INSERT INTO serial_numbers (origin, prefix, number, station, state, changed)"
                               " VALUES (?, ?, ?, ?, 'reserved', ?);");
        for (std::uint64_t offset = 0; offset < block.count; ++offset) {
            number.reset();
            if (!number.bind(1, origin_)
                     .bind(2, prefix)
                     .bind(3, static_cast<std::int64_t>(block.first + offset))
                     .bind(4, station)
                     .bind(5, changed)
                     .run(error))
                return std::nullopt;
        }
        number.reset();
        SqliteStatement advance(
            handle,
            "INSERT INTO serial_counters (origin, prefix, next_number) VALUES (?, ?, ?)"
            " ON CONFLICT (origin, prefix) DO UPDATE SET next_number = excluded.next_number;");
        if (!advance.bind(1, origin_)
                 .bind(2, prefix)
                 .bind(3, static_cast<std::int64_t>(block.first + block.count))
                 .run(error))
            return std::nullopt;
        if (!transaction.commit(error)) return std::nullopt;
        return block;
    });
}

bool SerialCounter::markNumber(const std::string& prefix, std::uint64_t number, SerialState state,
                               const RunId& run, std::string& error) {
    std::lock_guard lock(mutex_);
    return file_->database().exclusive([&](sqlite3* handle) {
        SqliteStatement query(handle,
                              // A passed unit carries its number: used is never undone,
                              // and a mark that comes late makes even a voided one used.
                              "UPDATE serial_numbers SET state = ?, changed = ?, run_uuid = ?"
                              " WHERE origin = ? AND prefix = ? AND number = ? AND state <> 'used';");
        return query.bind(1, serialStateName(state))
            .bind(2, now())
            .bind(3, run.text())
            .bind(4, origin_)
            .bind(5, prefix)
            .bind(6, static_cast<std::int64_t>(number))
            .run(error);
    });
}

bool SerialCounter::endStation(const std::string& station, std::string& error) {
    std::lock_guard lock(mutex_);
    const bool voided = voidOpenNumbers(station, error);
    stationLock_.release();
    return voided;
}

std::optional<std::vector<SerialNumberRow>> SerialCounter::numbers(const std::string& prefix,
                                                                   std::string& error) {
    std::lock_guard lock(mutex_);
    return file_->database().exclusive([&](sqlite3* handle) -> std::optional<std::vector<SerialNumberRow>> {
        SqliteStatement query(handle,
                              "SELECT prefix, number, station, state, run_uuid FROM serial_numbers"
                              " WHERE origin = ? AND (? = '' OR prefix = ?) ORDER BY prefix, number;");
        query.bind(1, origin_).bind(2, prefix).bind(3, prefix);
        std::vector<SerialNumberRow> rows;
        int status = SQLITE_ROW;
        while ((status = query.step(error)) == SQLITE_ROW)
            rows.push_back({query.text(0), static_cast<std::uint64_t>(query.integer(1)), query.text(2),
                            query.text(3), query.text(4)});
        if (status != SQLITE_DONE) return std::nullopt;
        return rows;
    });
}

}  // namespace velmora::history

namespace velmora::history {

std::optional<SerialNumberRow> SerialCounter::given(const std::string& serial, std::string& error) {
    std::lock_guard lock(mutex_);
    return file_->database().exclusive([&](sqlite3* handle) -> std::optional<SerialNumberRow> {
        SqliteStatement counters(handle, "SELECT prefix FROM serial_counters WHERE origin = ?;");
        counters.bind(1, origin_);
        std::vector<std::string> prefixes;
        int status = SQLITE_ROW;
        while ((status = counters.step(error)) == SQLITE_ROW) prefixes.push_back(counters.text(0));
        if (status != SQLITE_DONE) return std::nullopt;
        const auto number = serialNumberOf(serial, prefixes);
        if (!number) return std::nullopt;
        SqliteStatement query(handle,
                              "SELECT station, state, run_uuid FROM serial_numbers"
                              " WHERE origin = ? AND prefix = ? AND number = ?;");
        query.bind(1, origin_).bind(2, number->first).bind(3, static_cast<std::int64_t>(number->second));
        status = query.step(error);
        if (status != SQLITE_ROW) return std::nullopt;
        return SerialNumberRow{number->first, number->second, query.text(0), query.text(1), query.text(2)};
    });
}

}  // namespace velmora::history
