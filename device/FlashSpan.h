#pragma once
// The span in which the hub must not be interrupted: from just before the first
// erase request until the hub is back in its firmware after the final reset (or
// the run has ended). Cut off inside it (the machine asleep or shut down, the
// hub's port autosuspended, the process ended by a signal), the hub stays in its
// ROM code with a half-written flash. The workflows hold a FlashSpan over the
// host the front end chose; what holding the host off means (a logind lock, the
// port's autosuspend, deferred signals) lives above, in host/.
#include <string>

namespace velmora {

class FlashSpanHost {
public:
    virtual ~FlashSpanHost() = default;
    // Before the first erase request to the hub on portPath. False when the
    // process is stopping (a signal held for another hub's span, a station
    // abandoned): this hub must not be erased.
    virtual bool enterSpan(const std::string& portPath) = 0;
    // Once for every enterSpan that answered true, after the final reset or at the
    // run's end. When a stop was held and this was the last span, the process
    // ends here and the call does not return.
    virtual void leaveSpan(const std::string& portPath) = 0;
};

// One hub's span, left at the latest when the guard goes.
class FlashSpan {
public:
    FlashSpan() = default;
    ~FlashSpan() { end(); }
    FlashSpan(const FlashSpan&) = delete;
    FlashSpan& operator=(const FlashSpan&) = delete;

    // Enters the span on host (none: nothing to hold, true). Entering again while
    // inside changes nothing. False as enterSpan answers.
    bool begin(FlashSpanHost* host, const std::string& portPath);
    void end();
    bool inside() const { return host_ != nullptr; }

private:
    FlashSpanHost* host_ = nullptr;
    std::string portPath_;
};

}  // namespace velmora
