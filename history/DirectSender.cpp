#include "history/DirectSender.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "history/LineServer.h"

namespace velmora::history {
namespace {

// How long the sender gathers the writes that follow the one that woke it: a
// run writes its row several times in quick succession.
constexpr std::chrono::milliseconds kGatherWrites{100};

auto sameRun(const std::string& runUuid) {
    return [&runUuid](const HistoryRecord& row) { return row.runUuid == runUuid; };
}

}  // namespace

std::string directAwayLine(const std::string& serverName, const std::string& reason) {
    return "history server " + serverName + " is offline (" + reason +
           "); the run records the station's file could not take wait in memory until it answers";
}

DirectSender::DirectSender(LineServer& server, RetryPlan retry, Taken taken, HistorySender::Notice notice)
    : server_(server), retry_(retry), taken_(std::move(taken)), notice_(std::move(notice)), thread_([this] {
          work();
      }) {}

DirectSender::~DirectSender() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void DirectSender::send(const HistoryRecord& row) {
    {
        std::lock_guard lock(mutex_);
        const auto older = std::find_if(waiting_.begin(), waiting_.end(), sameRun(row.runUuid));
        if (older != waiting_.end()) {
            *older = row;
        } else {
            waiting_.push_back(row);
            if (waiting_.size() > kDirectRowsKept) waiting_.erase(waiting_.begin());
        }
    }
    changed_.notify_all();
}

void DirectSender::work() {
    std::chrono::milliseconds wait = retry_.first;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        // After a failure the next try waits its turn; at the end, one last try
        // unless the server is away: the process must not linger on it.
        if (!stopping_) changed_.wait_for(lock, away_ ? wait : kGatherWrites, [this] { return stopping_; });
        if (stopping_ && (away_ || waiting_.empty())) return;
        const bool last = stopping_;
        const bool wasAway = away_;
        lock.unlock();
        const bool sent = sendWaiting();
        lock.lock();
        if (last) return;
        wait = !sent && wasAway ? std::min(wait * 2, retry_.longest) : retry_.first;
    }
}

bool DirectSender::sendWaiting() {
    std::vector<HistoryRecord> rows;
    {
        std::lock_guard lock(mutex_);
        rows.swap(waiting_);
    }
    std::string error;
    std::vector<HistoryRecord> taken;
    bool reached = true;
    bool wasAway = false;
    const std::size_t refusedBefore = refused_.runs.size();
    if (server_.send(rows, error)) {
        taken = rows;
    } else if (!server_.answered()) {
        reached = false;
    } else {
        // The server refused the batch: each row alone, so one it refuses keeps
        // no other from it.
        for (const HistoryRecord& row : rows) {
            std::string why;
            if (server_.send({row}, why)) {
                taken.push_back(row);
            } else if (!server_.answered()) {
                reached = false;
                error = why;
                break;
            } else {
                refused_.runs.insert(row.runUuid);
                if (refused_.reason.empty()) refused_.reason = why;
            }
        }
    }
    {
        // What did not go waits again, unless its run wrote it anew meanwhile.
        std::set<std::string> done;
        for (const HistoryRecord& row : taken) done.insert(row.runUuid);
        std::lock_guard lock(mutex_);
        std::vector<HistoryRecord> again;
        for (const HistoryRecord& row : rows) {
            const bool newer = std::any_of(waiting_.begin(), waiting_.end(), sameRun(row.runUuid));
            if (!newer && done.count(row.runUuid) == 0 && refused_.runs.count(row.runUuid) == 0)
                again.push_back(row);
        }
        waiting_.insert(waiting_.begin(), again.begin(), again.end());
        if (waiting_.size() > kDirectRowsKept)
            waiting_.erase(waiting_.begin(), waiting_.end() - static_cast<std::ptrdiff_t>(kDirectRowsKept));
        wasAway = away_;
        away_ = !reached;
    }
    if (!taken.empty() && taken_) taken_(taken);
    if (notice_ && refused_.runs.size() > refusedBefore) notice_(serverRefusedLine(server_.name(), refused_));
    if (notice_ && !reached && !wasAway) notice_(directAwayLine(server_.name(), error));
    if (notice_ && reached && wasAway) notice_(serverBackLine(server_.name(), taken.size()));
    return reached;
}

}  // namespace velmora::history
