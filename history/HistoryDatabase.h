#pragma once
// The history database: one SQLite file shared by every process that updates
// hubs on this machine. Writers take turns (write-ahead log, and a busy timeout
// long enough for another run's short writes), so parallel runs and several
// programs never lose a row.
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/HistoryStore.h"

struct sqlite3;

namespace velmora::history {

class SqliteStatement;

// How long a write waits for another process's write to end before it fails.
inline constexpr std::chrono::milliseconds kBusyTimeout{10000};

// The rows not yet on the line's server: how many, and when the one that has
// waited longest was last written (its end, or its start while it runs).
struct WaitingRows {
    std::uint64_t count = 0;
    std::string oldestWritten;  // an ISO time; empty when none waits
    // Of them, those the server refused (this process's sender set them aside).
    std::uint64_t refused = 0;
};

// Which waiting rows a server takes: those written for it (by its identity,
// history/server's serverIdentity), and when it is the server the station's own
// settings name, also the real hubs' rows written when no server was named.
struct RowsFor {
    std::string server;
    bool stationsOwn = false;
};

// One connection to the station's file. Its calls may come from any thread, one
// at a time: each takes the connection for its length.
class HistoryDatabase final : public HistoryStore {
public:
    // Opens (and on first use lays out, or brings up to date) the database at
    // path, which must be the path StationFile checked (without links). Null,
    // with error, on failure.
    static std::unique_ptr<HistoryDatabase> open(const std::string& path, std::string& error);
    ~HistoryDatabase() override;
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    // Writes a new row and returns its id. A record without a run UUID gets one.
    std::optional<std::int64_t> insert(const HistoryRecord& record, std::string& error);
    // Rewrites the row record.id with everything record holds; the row then waits
    // to be sent again.
    bool update(const HistoryRecord& record, std::string& error);
    // insert when record.id is 0, else update.
    bool record(HistoryRecord& record, std::string& error) override;
    std::optional<std::vector<HistoryRecord>> list(const HistoryFilter& filter, std::string& error) override;
    std::optional<std::vector<ReportLine>> report(const ReportRequest& request, std::string& error) override;

    // Rows whose latest write has not reached server yet, oldest first, at most
    // limit of them.
    std::optional<std::vector<HistoryRecord>> unsent(const RowsFor& server, std::size_t limit,
                                                     std::string& error);
    // How many rows unsent would give, without reading them.
    std::optional<WaitingRows> waiting(const RowsFor& server, std::string& error);
    // Marks each row (by run UUID) as taken by the server at serverTime, unless it
    // was written again since the revision it holds (that write then waits its own
    // turn). One transaction, so the runs' own writes wait for one short write.
    bool markSent(const std::vector<HistoryRecord>& rows, const std::string& serverTime, std::string& error);

    // Leaves the write-ahead log's checkpoints, which wait for the disk, to
    // checkpoint() on another connection: a run's write then never waits for them.
    bool deferCheckpoints(std::string& error);
    // Copies what the log holds into the file, as far as it can without keeping
    // a reader or writer waiting, then the rest, so that the next write starts
    // the log anew.
    bool checkpoint(std::string& error);

    // Runs work on the connection alone, for the history's other tables (the
    // serial numbers): a transaction of several statements is never joined by
    // another thread's write.
    template <class Work>
    auto exclusive(Work&& work) {
        std::lock_guard lock(mutex_);
        return work(handle_);
    }

private:
    explicit HistoryDatabase(sqlite3* handle);
    bool layOut(std::string& error);
    bool upgrade(std::int64_t found, std::string& error);
    std::optional<std::int64_t> insertLocked(const HistoryRecord& record, std::string& error);
    bool updateLocked(const HistoryRecord& record, std::string& error);
    static int waitForWriter(void* database, int attempt);
    // A run's insert and update, prepared once: the triggers that keep the
    // report's counts are compiled with every statement that writes the runs.
    SqliteStatement& prepared(std::unique_ptr<SqliteStatement>& kept, const std::string& sql);

    std::mutex mutex_;
    sqlite3* handle_;
    std::unique_ptr<SqliteStatement> insertRun_;
    std::unique_ptr<SqliteStatement> updateRun_;
    std::chrono::steady_clock::time_point busySince_;  // when the current wait for a writer began
};

}  // namespace velmora::history
