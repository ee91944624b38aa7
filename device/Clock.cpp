#include "device/Clock.h"

#include <thread>

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
    std::lock_guard lock(mutex_);
    sleeps_.push_back(duration);
    if (duration.count() > 0) now_ += duration;
}

void VirtualClock::advance(Milliseconds duration) {
    std::lock_guard lock(mutex_);
    if (duration.count() > 0) now_ += duration;
}

std::vector<Milliseconds> VirtualClock::sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

void VirtualClock::clearSleeps() {
    std::lock_guard lock(mutex_);
    sleeps_.clear();
}

}  // namespace velmora
