#pragma once
// The host held off the hubs in their flash spans, for every front end: one
// logind lock for the process however many hubs are inside at once (taken when
// the first enters, let go when the last leaves), autosuspend off for each hub's
// device, and the process's stop signals deferred to the end of the last span.
// The composition root makes one and hands it to every hub connection; the
// workflows know it only as a FlashSpanHost.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "device/FlashSpan.h"
#include "host/Autosuspend.h"
#include "host/LogindInhibitor.h"

namespace velmora {
class Console;
}

namespace velmora::host {

class SignalDeferral;

struct HostHoldSettings {
    bool inhibit = true;      // take the logind lock (not for simulated or replayed hubs)
    bool autosuspend = true;  // keep the hub's device awake (not for hubs with no sysfs of their own)
    InhibitorSettings bus;
    std::filesystem::path sysfsRoot = kSysfsRoot;
    SignalDeferral* signalOwner = nullptr;  // the process's owner of its signals; none: they act as ever
    Console* console = nullptr;             // the diagnostic lines (--verbose); none: not said
    // The one line every user sees, once per process: sleep and shutdown are only
    // delayed. Told from whichever thread entered the span.
    std::function<void(const std::string&)> notice;
};

class HostHold final : public FlashSpanHost {
public:
    explicit HostHold(HostHoldSettings settings);
    ~HostHold() override;

    bool enterSpan(const std::string& portPath) override;
    void leaveSpan(const std::string& portPath) override;

    // A hub is inside its span now (tests, and a window that asks before it
    // closes). Never waits: the GUI thread asks while a worker may be taking the lock.
    bool insideSpan() const { return spans_ > 0; }

private:
    void takeLock(const std::string& portPath);
    void keepAwake(const std::string& portPath);
    void line(const std::string& text) const;

    HostHoldSettings settings_;
    std::mutex mutex_;
    std::atomic<int> spans_{0};  // changed under mutex_
    InhibitorLock lock_;
    bool delaySaid_ = false;
    std::map<std::string, std::unique_ptr<AutosuspendHold>> awake_;  // by port
};

}  // namespace velmora::host
