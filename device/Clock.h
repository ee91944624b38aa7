#pragma once
// Every wait of the device layer goes through a Clock, so the program sleeps for
// real while tests run the hub's reset polls in virtual time.
#include <chrono>
#include <mutex>
#include <vector>

namespace velmora {

using Milliseconds = std::chrono::milliseconds;

class Clock {
public:
    virtual ~Clock() = default;
    virtual Milliseconds now() const = 0;
    virtual void sleepFor(Milliseconds duration) = 0;
};

class SystemClock final : public Clock {
public:
    Milliseconds now() const override;
    void sleepFor(Milliseconds duration) override;
};

// Time moves only when someone sleeps; every sleep is recorded.
class VirtualClock final : public Clock {
public:
    Milliseconds now() const override;
    void sleepFor(Milliseconds duration) override;
    void advance(Milliseconds duration);
    std::vector<Milliseconds> sleeps() const;
    void clearSleeps();

private:
    mutable std::mutex mutex_;
    Milliseconds now_{0};
    std::vector<Milliseconds> sleeps_;
};

}  // namespace velmora
