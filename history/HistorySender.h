#pragma once
// Sends a station's rows to the line's server, beside the runs. Every run is
// written to the station's own file first; the sender then takes the rows whose
// latest write the server has not had, sends them by run UUID and marks each
// local row with the time the server took it. No run ever waits for it: it has
// a thread of its own, a short connect timeout, and when the server is away it
// says so once and tries again on its own, backing off, until it answers.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace velmora::history {

class HistoryDatabase;
class LineServer;
class StationFile;

// How long the sender waits after a failed try before the next: the first wait,
// doubled after each failure up to the longest.
struct RetryPlan {
    std::chrono::milliseconds first{2000};
    std::chrono::milliseconds longest{30000};
};

// Set to a number of milliseconds, the sender's first and longest waits are that
// long (tests of an outage).
inline constexpr const char* kRetryVariable = "VELMORA_HISTORY_RETRY_MS";
RetryPlan retryPlanFromEnvironment();

// The rows a server refused (it answered, and would not take them): set aside,
// so the rows after them still go; they stay waiting in the station's file and
// are tried again by the next process.
struct RefusedRows {
    std::set<std::string> runs;  // by run UUID
    std::string reason;          // the server's word on the first
};

// Sends every row of local waiting for the server, in batches, and marks them:
// the rows written for it, and when it is the server the station's own settings
// name (stationsOwn), the real hubs' rows written without a server; batches: at most so many transactions of
// rows, 0 for as many as it takes. A batch the server refuses is sent again a
// row at a time, and the rows it refuses are added to refused and not sent
// again; without refused (a command's own send), any refused row makes the
// result nothing, with error saying so, once the others are sent. The number
// sent, or nothing with error.
std::optional<std::size_t> sendWaitingRows(HistoryDatabase& local, LineServer& server, bool stationsOwn,
                                           std::string& error, std::size_t batches = 0,
                                           RefusedRows* refused = nullptr);

class HistorySender {
public:
    // Told from the sender's thread: the server is away (once per outage) or
    // answers again.
    using Notice = std::function<void(const std::string& line)>;

    // Sends file's rows to server (which outlives the sender), reading them on a
    // connection of its own; stationsOwn as sendWaitingRows takes it.
    HistorySender(std::shared_ptr<StationFile> file, LineServer& server, bool stationsOwn, RetryPlan retry,
                  Notice notice);
    // One last try for the rows still waiting, unless the server is known to be
    // away (then they wait for the next run or `history sync`); then it stops.
    // That try sends one batch at most: a long backlog must not hold the
    // program's end, and waits for `history sync` or the next run.
    ~HistorySender();
    HistorySender(const HistorySender&) = delete;
    HistorySender& operator=(const HistorySender&) = delete;

    // A row was written: send it soon.
    void wake();
    // How many rows the server refused so far (set aside, still waiting in the file).
    std::size_t refused() const { return refusedCount_; }

private:
    void work();
    bool sendOnce(std::size_t batches);

    std::shared_ptr<StationFile> file_;
    LineServer& server_;
    bool stationsOwn_;
    RetryPlan retry_;
    Notice notice_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
    bool stopping_ = false;

    // The sender thread's own.
    std::unique_ptr<HistoryDatabase> local_;
    bool away_ = false;
    RefusedRows refused_;
    std::size_t refusedTold_ = 0;  // how many refused rows were told
    std::atomic<std::size_t> refusedCount_{0};
    std::thread thread_;  // last: starts once everything above is ready
};

// The lines the sender tells, the server named as LineServer::name names it.
std::string serverAwayLine(const std::string& serverName, const std::string& reason);
// The server itself would not let the station in (a wrong password): said as the server said it.
std::string serverRefusedConnectionLine(const std::string& serverName, const std::string& reason);
std::string serverBackLine(const std::string& serverName, std::size_t sent);
std::string serverRefusedLine(const std::string& serverName, const RefusedRows& refused);

}  // namespace velmora::history
