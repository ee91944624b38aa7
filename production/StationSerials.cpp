#include "production/StationSerials.h"

#include <chrono>

#include "app/TextFormat.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

// How long the worker waits after a failed write before it tries again.
constexpr std::chrono::milliseconds kRetryPause{1000};

}  // namespace

StationSerials::StationSerials(SerialNumberSource& source, SerialSettings settings)
    : source_(source), settings_(std::move(settings)) {}

StationSerials::~StationSerials() {
    std::string ignored;
    end(ignored);
    stopWorker();
}

bool StationSerials::begin(std::string& error) {
    std::unique_lock lock(mutex_);
    if (!source_.beginStation(settings_.station, error)) return false;
    begun_ = true;
    bool exhausted = false;
    if (reserveLocked(lock, error, exhausted)) {
        stopping_ = false;
        if (!worker_.joinable()) worker_ = std::thread([this] { work(); });
        return true;
    }
    if (exhausted) {
        error = formatText(messages::kSerialsUsedUpFormat, settings_.format.prefix.c_str(),
                           settings_.format.serialOf(settings_.format.lastNumber()).c_str());
    }
    std::string ignored;
    source_.endStation(settings_.station, ignored);
    begun_ = false;
    return false;
}

// Reserves the next block and appends it to the one held; the lock is let go
// for the backend's call, so units take numbers meanwhile.
bool StationSerials::reserveLocked(std::unique_lock<std::mutex>& lock, std::string& error, bool& exhausted) {
    reserving_ = true;
    lock.unlock();
    const std::optional<SerialBlock> block =
        source_.reserveBlock(settings_.station, settings_.format.prefix, settings_.start,
                             settings_.format.lastNumber(), settings_.block, error);
    lock.lock();
    reserving_ = false;
    changed_.notify_all();
    if (!block) return false;
    exhausted = block->count == 0;
    if (exhausted) counterEnded_ = true;
    for (std::uint64_t offset = 0; offset < block->count; ++offset) block_.push_back(block->first + offset);
    return !exhausted;
}

// The next block is asked for while the one held still has a quarter left, so a
// short outage at a block's end costs no unit.
bool StationSerials::wantsBlockLocked() const {
    return begun_ && !counterEnded_ && !reserving_ && block_.size() * 4 <= settings_.block;
}

SerialTake StationSerials::take() {
    std::unique_lock lock(mutex_);
    // A unit takes from the block held while the next is on its way (a frozen
    // server holds only the worker); with the block empty it waits for that
    // reservation rather than starting a second one beside it, which would only
    // be voided.
    changed_.wait(lock, [this] { return !reserving_ || !block_.empty(); });
    SerialTake taken;
    if (block_.empty()) {
        std::string error;
        bool exhausted = false;
        if (!reserveLocked(lock, error, exhausted) && block_.empty()) {
            taken.stopLine =
                exhausted ? formatText(messages::kStationSerialsUsedUpFormat, settings_.format.prefix.c_str(),
                                       settings_.format.serialOf(settings_.format.lastNumber()).c_str())
                          : formatText(messages::kStationSerialsUnavailableFormat, error.c_str());
            return taken;
        }
    }
    taken.number = block_.front();
    block_.pop_front();
    taken.serial = settings_.format.serialOf(*taken.number);
    keepOrQueue(lock, *taken.number, SerialState::Issued, {});
    return taken;
}

void StationSerials::finish(std::uint64_t number, bool passed, const RunId& run) {
    std::unique_lock lock(mutex_);
    if (keepOrQueue(lock, number, passed ? SerialState::Used : SerialState::Void, run)) return;
    if (backendSlow_) return;
    const std::uint64_t mine = marksQueued_;
    if (!changed_.wait_for(lock, kMarkWait, [this, mine] { return marksWritten_ >= mine || stopping_; }))
        backendSlow_ = true;
}

bool StationSerials::end(std::string& error) {
    stopWorker();
    std::lock_guard lock(mutex_);
    if (!begun_) return true;
    // Until every mark is written the station stays open, so that a later call
    // (the server back) can still record a passed unit's number as used: closing
    // first would void it.
    std::string problem;
    flushLocked(problem);
    if (!waiting_.empty()) {
        error = formatText(messages::kSerialMarksUnwrittenFormat, waiting_.size(), problem.c_str());
        return false;
    }
    std::size_t kept = 0;
    if (!source_.sendKeptMarks(settings_.station, kept, problem)) {
        error = formatText(messages::kSerialMarksKeptFormat, kept, problem.c_str());
        return false;
    }
    if (!source_.endStation(settings_.station, error)) return false;
    block_.clear();
    begun_ = false;
    return true;
}

// Has the backend keep the mark (off the lock: a unit's worker never waits for
// another's), else queues it for the worker to write. True when kept.
bool StationSerials::keepOrQueue(std::unique_lock<std::mutex>& lock, std::uint64_t number, SerialState state,
                                 const RunId& run) {
    lock.unlock();
    std::string error;
    const bool kept = source_.keepMark(settings_.station, settings_.format.prefix, number, state, run, error);
    lock.lock();
    if (!kept) {
        markLocked(number, state, run);
        return false;
    }
    ++marksKept_;
    changed_.notify_all();
    return true;
}

void StationSerials::markLocked(std::uint64_t number, SerialState state, const RunId& run) {
    waiting_.push_back({number, state, run});
    ++marksQueued_;
    changed_.notify_all();
}

// Writes the waiting marks in order, up to the first the backend does not take.
// Only while the worker is stopped.
void StationSerials::flushLocked(std::string& error) {
    while (!waiting_.empty() && source_.markNumber(settings_.format.prefix, waiting_.front().number,
                                                   waiting_.front().state, waiting_.front().run, error)) {
        waiting_.pop_front();
        ++marksWritten_;
    }
}

// The station's own thread toward the backend: each mark in order, and the next
// block when the one held runs low; after a failure, again a moment later.
void StationSerials::work() {
    std::unique_lock lock(mutex_);
    bool failed = false;
    while (!stopping_) {
        const auto due = [this] {
            return stopping_ || !waiting_.empty() || keptSent_ < marksKept_ || wantsBlockLocked();
        };
        if (failed)
            changed_.wait_for(lock, kRetryPause, [this] { return stopping_; });
        else
            changed_.wait(lock, due);
        if (stopping_) break;
        failed = false;
        if (!waiting_.empty()) {
            const Mark mark = waiting_.front();
            lock.unlock();
            std::string error;
            const bool written =
                source_.markNumber(settings_.format.prefix, mark.number, mark.state, mark.run, error);
            lock.lock();
            if (written) {
                waiting_.pop_front();
                ++marksWritten_;
                changed_.notify_all();
            }
            failed = !written;
            backendSlow_ = failed;
        }
        if (!failed && keptSent_ < marksKept_) {
            const std::uint64_t seen = marksKept_;
            std::size_t waiting = 0;
            std::string error;
            lock.unlock();
            failed = !source_.sendKeptMarks(settings_.station, waiting, error);
            lock.lock();
            if (!failed) keptSent_ = seen;
        }
        if (!failed && wantsBlockLocked()) {
            std::string error;
            bool exhausted = false;
            failed = !reserveLocked(lock, error, exhausted) && !exhausted;
        }
    }
}

void StationSerials::stopWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

std::uint64_t StationSerials::left() {
    std::lock_guard lock(mutex_);
    return block_.size();
}

}  // namespace velmora
