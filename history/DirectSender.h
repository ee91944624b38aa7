#pragma once
// Sends rows to the line's server straight from memory, for the runs whose
// writes the station's file would not take (its folder unwritable, something
// else in its place, a full disk): so a unit that took a number is recorded
// somewhere while the file cannot be used. Beside the runs, like the file's
// sender: a thread of its own, each send bounded by the server's own bounds, and
// when the server is away it says so once and tries again, backing off.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/HistorySender.h"

namespace velmora::history {

class LineServer;

// How many runs' rows wait for the server in memory at most: the oldest goes
// when another comes (a run's newer write replaces its older one).
inline constexpr std::size_t kDirectRowsKept = 1024;

class DirectSender {
public:
    // Told, from the sender's thread, the rows the server took (each as it was sent).
    using Taken = std::function<void(const std::vector<HistoryRecord>& rows)>;

    DirectSender(LineServer& server, RetryPlan retry, Taken taken, HistorySender::Notice notice);
    // One last try for the rows still waiting (one send at most), unless the
    // server is known to be away.
    ~DirectSender();
    DirectSender(const DirectSender&) = delete;
    DirectSender& operator=(const DirectSender&) = delete;

    // The newest write of a run's row (its revision counts the run's writes):
    // sent soon, in place of any older write of that run still waiting.
    void send(const HistoryRecord& row);

private:
    void work();
    bool sendWaiting();

    LineServer& server_;
    RetryPlan retry_;
    Taken taken_;
    HistorySender::Notice notice_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HistoryRecord> waiting_;  // oldest first, one per run
    bool stopping_ = false;
    bool away_ = false;  // the last send could not reach the server
    RefusedRows refused_;
    std::thread thread_;  // last: starts once everything above is ready
};

// The line told once per outage when the rows the file could not take cannot
// reach the server either.
std::string directAwayLine(const std::string& serverName, const std::string& reason);

}  // namespace velmora::history
