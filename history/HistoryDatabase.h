#pragma once
// The history database: one SQLite file shared by every process that updates
// hubs on this machine. Writers take turns (write-ahead log, and a busy timeout
// long enough for another run's short writes), so parallel runs and several
// programs never lose a row.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"

struct sqlite3;

namespace velmora::history {

// How long a write waits for another process's write to end before it fails.
inline constexpr std::chrono::milliseconds kBusyTimeout{10000};

class HistoryDatabase {
public:
    // Opens (and on first use lays out) the database at path; the file must have
    // passed prepareHistoryFile or checkHistoryFile. Null, with error, on failure.
    static std::unique_ptr<HistoryDatabase> open(const std::string& path, std::string& error);
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    // Writes a new row and returns its id.
    std::optional<std::int64_t> insert(const HistoryRecord& record, std::string& error);
    // Rewrites the row record.id with everything record holds.
    bool update(const HistoryRecord& record, std::string& error);
    // The rows the filter selects, oldest first.
    std::optional<std::vector<HistoryRecord>> list(const HistoryFilter& filter, std::string& error);

    // The open connection, for the history's other tables (the serial numbers).
    sqlite3* handle() const { return handle_; }

private:
    explicit HistoryDatabase(sqlite3* handle) : handle_(handle) {}
    bool layOut(std::string& error);

    sqlite3* handle_;
};

}  // namespace velmora::history
