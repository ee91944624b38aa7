#pragma once
// A test's clock with one step run right after a chosen sleep: how a test makes a
// second run try the hub, or the hub change, while a run waits for the hub to come
// back from a reset. Time itself is the wrapped clock's (virtual in tests).
#include <functional>
#include <utility>

#include "device/Clock.h"

namespace velmora::testing {

class HookClock final : public Clock {
public:
    explicit HookClock(Clock& time) : time_(time) {}

    Milliseconds now() const override { return time_.now(); }
    void sleepFor(Milliseconds duration) override {
        time_.sleepFor(duration);
        if (step_ && duration == trigger_) std::exchange(step_, nullptr)();
    }
    // Runs step once, after the first sleep that lasts exactly duration.
    void afterSleep(Milliseconds duration, std::function<void()> step) {
        trigger_ = duration;
        step_ = std::move(step);
    }

private:
    Clock& time_;
    Milliseconds trigger_{0};
    std::function<void()> step_;
};

}  // namespace velmora::testing
