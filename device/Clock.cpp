#include "device/Clock.h"

namespace velmora {

Milliseconds SystemClock::now() const {
    return std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::sleepFor(Milliseconds duration) {
    if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

Milliseconds VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::sleepFor(Milliseconds duration) {
    std::unique_lock lock(mutex_);
    sleeps_.push_back(duration);
    if (duration.count() <= 0) return;
    const bool worker = workers_.contains(std::this_thread::get_id());
    if (!worker) ++participants_;
    const Milliseconds deadline = now_ + duration;
    const auto mine = deadlines_.insert(deadline);
    ++asleep_;
    advanceIfAllAsleep();
    timeMoved_.wait(lock, [&] { return now_ >= deadline; });
    --asleep_;
    deadlines_.erase(mine);
    if (!worker) --participants_;
    // A thread that is no worker stops counting once awake: the others may now all sleep.
    advanceIfAllAsleep();
}

void VirtualClock::advanceIfAllAsleep() {
    if (asleep_ == 0 || asleep_ < participants_ || deadlines_.empty()) return;
    const Milliseconds earliest = *deadlines_.begin();
    if (earliest > now_) now_ = earliest;
    timeMoved_.notify_all();
}

void VirtualClock::advance(Milliseconds duration) {
    std::lock_guard lock(mutex_);
    if (duration.count() > 0) now_ += duration;
    timeMoved_.notify_all();
}

std::vector<Milliseconds> VirtualClock::sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

void VirtualClock::clearSleeps() {
    std::lock_guard lock(mutex_);
    sleeps_.clear();
}

void VirtualClock::addWorkers(int count) {
    std::lock_guard lock(mutex_);
    participants_ += count;
}

void VirtualClock::enterWorker() {
    std::lock_guard lock(mutex_);
    // A worker that becomes one again (a station run on a window's worker) is
    // still one participant: the count added for it is taken back.
    if (++workers_[std::this_thread::get_id()] > 1) --participants_;
}

void VirtualClock::leaveWorker() {
    std::lock_guard lock(mutex_);
    const auto worker = workers_.find(std::this_thread::get_id());
    if (worker != workers_.end() && --worker->second > 0) return;
    if (worker != workers_.end()) workers_.erase(worker);
    --participants_;
    // The others may all have been asleep, waiting only for this one.
    advanceIfAllAsleep();
}

}  // namespace velmora
