#include "device/HotplugPump.h"

#include <memory>

namespace velmora {
namespace {

// How often the pump looks at its stop flag while the bus is quiet.
constexpr std::chrono::milliseconds kPollSlice{100};

}  // namespace

bool HotplugPump::start() {
    if (thread_.joinable()) return true;
    const bool watching = platform_.setHotplugCallback(
        [this](UsbHotplugEvent kind, const UsbDeviceInfo& device) { deliver(kind, device); });
    if (!watching) return false;
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void HotplugPump::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    thread_.join();
    platform_.setHotplugCallback(nullptr);
}

void HotplugPump::run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        platform_.pollEvents(kPollSlice);
    }
}

int HotplugPump::addListener(Listener listener) {
    std::lock_guard lock(mutex_);
    listeners_[nextId_] = std::move(listener);
    return nextId_++;
}

void HotplugPump::removeListener(int id) {
    std::lock_guard lock(mutex_);
    listeners_.erase(id);
}

void HotplugPump::deliver(UsbHotplugEvent kind, const UsbDeviceInfo& device) {
    std::map<int, Listener> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners = listeners_;
    }
    // Called without the lock: a listener may add or remove listeners.
    for (const auto& [id, listener] : listeners) listener(kind, device);
}

bool HotplugPump::waitFor(const Match& match, std::chrono::milliseconds timeout) {
    // Shared with the listener: the pump may still hold a copy of it after the wait
    // has timed out and returned.
    auto matched = std::make_shared<bool>(false);
    const int id = addListener([this, match, matched](UsbHotplugEvent kind, const UsbDeviceInfo& device) {
        if (!match(kind, device)) return;
        std::lock_guard lock(mutex_);
        *matched = true;
        eventSeen_.notify_all();
    });
    bool result = false;
    {
        std::unique_lock lock(mutex_);
        result = eventSeen_.wait_for(lock, timeout, [&] { return *matched; });
    }
    removeListener(id);
    return result;
}

}  // namespace velmora
