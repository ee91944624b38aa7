#include "history/HistorySender.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "history/HistoryDatabase.h"
#include "history/LineServer.h"
#include "history/SendSettingAside.h"
#include "history/StationFile.h"

namespace velmora::history {
namespace {

// Rows per transaction: large enough for a backlog, small enough that a row
// written meanwhile is not kept waiting long.
constexpr std::size_t kBatchRows = 500;
// How long the sender gathers the writes that follow the one that woke it.
constexpr std::chrono::milliseconds kGatherWrites{100};
// The sender's nice value, above the runs' (a lower priority).
constexpr int kSenderNice = 10;

}  // namespace

RetryPlan retryPlanFromEnvironment() {
    RetryPlan plan;
    const char* value = std::getenv(kRetryVariable);
    if (value == nullptr) return plan;
    char* end = nullptr;
    const long milliseconds = std::strtol(value, &end, 10);
    if (end == value || *end != '\0' || milliseconds < 10 || milliseconds > 600000) return plan;
    plan.first = plan.longest = std::chrono::milliseconds(milliseconds);
    return plan;
}

namespace {

// Sends rows and marks each the server took with its time of receipt.
std::optional<std::size_t> sendBatch(HistoryDatabase& local, LineServer& server,
                                     const std::vector<HistoryRecord>& rows, RefusedRows& refused,
                                     std::string& error) {
    std::optional<std::string> received;
    return sendSettingAside(
        server, rows,
        [&](const std::vector<HistoryRecord>& batch, std::string& why) {
            received = server.send(batch, why);
            return received.has_value();
        },
        [&](const std::vector<HistoryRecord>& batch, std::string& why) {
            return local.markSent(batch, *received, why);
        },
        [&refused](const HistoryRecord& row, const std::string& why) {
            refused.runs.insert(row.runUuid);
            if (refused.reason.empty()) refused.reason = why;
        },
        error);
}

}  // namespace

std::optional<std::size_t> sendWaitingRows(HistoryDatabase& local, LineServer& server, bool stationsOwn,
                                           std::string& error, std::size_t batches, RefusedRows* refused) {
    const RowsFor rowsFor{server.identity(), stationsOwn};
    RefusedRows own;
    RefusedRows& setAside = refused != nullptr ? *refused : own;
    std::size_t sent = 0;
    for (std::size_t batch = 1;; ++batch) {
        const std::optional<std::vector<HistoryRecord>> rows = local.unsent(rowsFor, kBatchRows, error);
        if (!rows) return std::nullopt;
        std::vector<HistoryRecord> fresh;
        for (const HistoryRecord& row : *rows)
            if (setAside.runs.count(row.runUuid) == 0) fresh.push_back(row);
        if (fresh.empty()) break;
        const std::optional<std::size_t> taken = sendBatch(local, server, fresh, setAside, error);
        if (!taken) return std::nullopt;
        sent += *taken;
        // A row written again since it was read stays waiting, and goes next round;
        // a batch that came back short was the last.
        if (rows->size() < kBatchRows || batch == batches) break;
    }
    if (refused == nullptr && !setAside.runs.empty()) {
        error = std::to_string(sent) + " run records sent; " + std::to_string(setAside.runs.size()) +
                " refused by the server (" + setAside.reason + ") and kept on this station";
        return std::nullopt;
    }
    return sent;
}

std::string serverAwayLine(const std::string& serverName, const std::string& reason) {
    return "history server " + serverName + " is offline (" + reason +
           "); runs are recorded on this station and sent when it answers";
}

std::string serverRefusedConnectionLine(const std::string& serverName, const std::string& reason) {
    return "history server " + serverName + " refused this station's connection (" + reason +
           "); runs are recorded on this station and sent once it lets the station in";
}

std::string serverRefusedLine(const std::string& serverName, const RefusedRows& refused) {
    return "history server " + serverName + " refused " + std::to_string(refused.runs.size()) +
           " run records (" + refused.reason + "); they are kept on this station";
}

std::string serverRefusedMarksLine(const std::string& serverName, const RefusedMarks& refused) {
    return "history server " + serverName + " refused " + std::to_string(refused.ids.size()) +
           " serial numbers' marks (" + refused.reason + "); they are kept on this station";
}

std::string serverBackLine(const std::string& serverName, std::size_t sent) {
    return "history server " + serverName + " answers again; " + std::to_string(sent) +
           " waiting run records sent";
}

HistorySender::HistorySender(std::shared_ptr<StationFile> file, LineServer& server, bool stationsOwn,
                             RetryPlan retry, Notice notice)
    : file_(std::move(file)),
      server_(server),
      stationsOwn_(stationsOwn),
      retry_(retry),
      notice_(std::move(notice)),
      thread_([this] { work(); }) {}

HistorySender::~HistorySender() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void HistorySender::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

void HistorySender::work() {
    // Beside the runs, never ahead of them: on a busy station the runs' threads
    // get the processor first (Linux gives each thread its own nice value).
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kSenderNice);
    std::chrono::milliseconds wait = retry_.first;
    bool failed = false;  // the last try failed: the next comes after wait
    std::unique_lock lock(mutex_);
    for (;;) {
        if (failed) {
            changed_.wait_for(lock, wait, [this] { return stopping_; });
        } else {
            changed_.wait(lock, [this] { return stopping_ || woken_; });
            // A run writes its row several times in quick succession: one send
            // for all of them keeps the station file's writes few.
            changed_.wait_for(lock, kGatherWrites, [this] { return stopping_; });
        }
        // At the end, one last try, unless the server is away: the process must
        // not linger on it.
        if (stopping_ && (away_ || !woken_)) return;
        const bool last = stopping_;
        woken_ = false;
        lock.unlock();
        const bool failedBefore = failed;
        failed = !sendOnce(last ? 1 : 0);
        lock.lock();
        if (last) return;
        // The first try after a failure comes after the first wait, each further one
        // after twice the last, up to the longest.
        wait = failed && failedBefore ? std::min(wait * 2, retry_.longest) : retry_.first;
    }
}

bool HistorySender::sendOnce(std::size_t batches) {
    std::string error;
    if (!local_) local_ = file_->openConnection(error);
    if (!local_) return false;  // the recorder tells why the file cannot be used
    std::optional<std::size_t> sent =
        sendWaitingRows(*local_, server_, stationsOwn_, error, batches, &refused_);
    // Then the serial numbers' marks kept for this server, every station's.
    const std::size_t marksRefused = refusedMarks_.ids.size();
    if (sent && !sendWaitingMarks(*local_, server_, {}, refusedMarks_, error, batches)) sent.reset();
    if (refusedMarks_.ids.size() > marksRefused && notice_)
        notice_(serverRefusedMarksLine(server_.name(), refusedMarks_));
    if (refused_.runs.size() > refusedTold_ && notice_) notice_(serverRefusedLine(server_.name(), refused_));
    refusedTold_ = refused_.runs.size();
    refusedCount_ = refusedTold_;
    if (sent) {
        if (away_ && notice_) notice_(serverBackLine(server_.name(), *sent));
        away_ = false;
        return true;
    }
    // "Offline" only when the server could not be reached; when it answered, the
    // station's own file failed (its rows read or marked): a full disk is no server's.
    if (!away_ && notice_)
        notice_(server_.refusedConnection() ? serverRefusedConnectionLine(server_.name(), error)
                : server_.answered()        ? "history " + file_->path() + ": " + error
                                            : serverAwayLine(server_.name(), error));
    away_ = true;
    return false;
}

}  // namespace velmora::history
