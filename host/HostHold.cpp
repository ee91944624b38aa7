#include "host/HostHold.h"

#include <utility>

#include "app/Console.h"
#include "app/TextFormat.h"
#include "host/HostMessages.h"
#include "host/SignalDeferral.h"

namespace velmora::host {

HostHold::HostHold(HostHoldSettings settings) : settings_(std::move(settings)) {}

HostHold::~HostHold() = default;

bool HostHold::enterSpan(const std::string& portPath) {
    // The signals first: a stop that comes while the lock is being taken is then
    // held, and seen below, before anything is erased.
    if (settings_.signalOwner != nullptr && !settings_.signalOwner->enterSpan()) return false;
    {
        std::lock_guard guard(mutex_);
        if (spans_++ == 0 && settings_.inhibit) takeLock(portPath);
        if (settings_.autosuspend) keepAwake(portPath);
    }
    if (settings_.signalOwner != nullptr && settings_.signalOwner->stopping()) {
        leaveSpan(portPath);  // the last span out ends the process here
        return false;
    }
    return true;
}

void HostHold::leaveSpan(const std::string& portPath) {
    {
        std::lock_guard guard(mutex_);
        awake_.erase(portPath);
        if (spans_ > 0 && --spans_ == 0) lock_.release();
    }
    // Last: with a stop held, the last span out ends the process here.
    if (settings_.signalOwner != nullptr) settings_.signalOwner->leaveSpan();
}

void HostHold::takeLock(const std::string& portPath) {
    const std::string why = formatText(messages::kInhibitWhyFormat, portPath.c_str());
    lock_ = takeInhibitor(settings_.bus, why);
    if (!lock_.held()) {
        line(formatText(messages::kNoLockFormat, lock_.problem().c_str()));
        return;
    }
    line(formatText(messages::kLockTakenFormat, modeName(*lock_.mode()), why.c_str()));
    if (lock_.mode() == InhibitMode::Delay && !delaySaid_) {
        delaySaid_ = true;
        if (settings_.notice)
            settings_.notice(formatText(messages::kOnlyDelayedFormat, lock_.problem().c_str()));
    }
}

void HostHold::keepAwake(const std::string& portPath) {
    if (awake_.count(portPath) != 0) return;
    auto hold = std::make_unique<AutosuspendHold>(settings_.sysfsRoot, portPath);
    std::string detail;
    switch (hold->begin(detail)) {
        case AutosuspendOutcome::TurnedOff:
            line(formatText(messages::kAutosuspendOffFormat, portPath.c_str(), detail.c_str()));
            awake_.emplace(portPath, std::move(hold));
            break;
        case AutosuspendOutcome::AlreadyOff: break;
        case AutosuspendOutcome::NotPermitted:
            line(formatText(messages::kAutosuspendNotRootFormat, portPath.c_str(),
                            hold->controlFile().c_str()));
            break;
        case AutosuspendOutcome::Failed:
            line(formatText(messages::kAutosuspendFailedFormat, portPath.c_str(), detail.c_str()));
            break;
    }
}

void HostHold::line(const std::string& text) const {
    if (settings_.console != nullptr) settings_.console->line(text);
}

}  // namespace velmora::host
