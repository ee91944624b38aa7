#include "device/simulated/SimulatedUsbPlatform.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace velmora::sim {

namespace {

constexpr std::chrono::milliseconds kBusLookInterval{20};

// An open device: bound to one enumeration of the hub.
class SimulatedUsbDevice final : public UsbDevice {
public:
    explicit SimulatedUsbDevice(BusDevice device) : device_(std::move(device)) {}

    IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data, Milliseconds) override {
        // A plain device has no vendor requests of the hub's kind.
        if (!device_.hub) return kIOUSBPipeStalled;
        const ControlAnswer answer = device_.hub->handleControlOn(device_.enumeration, setup, data);
        if (answer.outcome != Outcome::Completed) return toIOReturn(answer.outcome);
        return transferredStatus(setup, answer.actualLength);
    }

private:
    BusDevice device_;
};

// The bus's claim on a port, given back when the holder lets go.
class BusPortClaim final : public PortClaim {
public:
    BusPortClaim(SimulatedBus& bus, std::string portPath) : bus_(bus), portPath_(std::move(portPath)) {}
    ~BusPortClaim() override { bus_.releasePort(portPath_); }

private:
    SimulatedBus& bus_;
    std::string portPath_;
};

}  // namespace

std::vector<BusDevice> SimulatedUsbPlatform::lookAtBus() {
    std::vector<BusDevice> devices = bus_.presentDevices();
    std::lock_guard lock(mutex_);
    std::map<std::string, UsbDeviceInfo> seen;
    for (const BusDevice& device : devices) seen.emplace(device.info.platformKey, device.info);
    // Events wait only for a listener: without one (a station, which lists the
    // bus instead) they would pile up for as long as the program runs.
    const bool listened = static_cast<bool>(callback_);
    for (const auto& [key, info] : lastSeen_)
        if (listened && !seen.contains(key)) pending_.push_back({UsbHotplugEvent::Left, info});
    for (const BusDevice& device : devices) {
        if (lastSeen_.contains(device.info.platformKey)) continue;
        if (listened) pending_.push_back({UsbHotplugEvent::Arrived, device.info});
        arrivals_.noteArrival(device.info.portPath);
    }
    lastSeen_ = std::move(seen);
    return devices;
}

// A hub's two halves are listed once, as by the real platform, and paired by the
// bus's port links as the kernel's would pair them.
std::vector<UsbDeviceInfo> SimulatedUsbPlatform::listDevices() {
    std::vector<ListedUsbDevice> devices;
    for (BusDevice& device : lookAtBus()) devices.push_back({std::move(device.info), device.superSpeed});
    return halves_.listedOncePerDevice(std::move(devices));
}

UsbPlatform::OpenResult SimulatedUsbPlatform::openDevice(const UsbDeviceInfo& wanted) {
    for (BusDevice& device : lookAtBus()) {
        if (device.info.platformKey != wanted.platformKey) continue;
        if (device.hub && device.hub->faults().heldByAnotherDriver)
            return {nullptr, kIOReturnExclusiveAccess};
        return {std::make_unique<SimulatedUsbDevice>(std::move(device)), kIOReturnSuccess};
    }
    // The device left the bus or came back under a new number since it was listed.
    return {nullptr, kIOReturnNoDevice};
}

UsbPlatform::ClaimResult SimulatedUsbPlatform::claimPort(const std::string& portPath) {
    if (!bus_.claimPort(portPath)) return {nullptr, kIOReturnExclusiveAccess, {}};
    return {std::make_unique<BusPortClaim>(bus_, portPath), kIOReturnSuccess, {}};
}

std::vector<HeldPortLock> SimulatedUsbPlatform::portsHeldElsewhere() {
    std::vector<HeldPortLock> held;
    for (std::string& port : bus_.claimedPorts()) held.push_back({std::move(port), {}});
    return held;
}

bool SimulatedUsbPlatform::setHotplugCallback(HotplugCallback callback) {
    lookAtBus();  // arrivals are reported from now on, not for devices already attached
    std::lock_guard lock(mutex_);
    pending_.clear();
    callback_ = std::move(callback);
    return true;
}

std::uint64_t SimulatedUsbPlatform::arrivalsAt(const std::string& portPath) {
    lookAtBus();
    return arrivals_.arrivalsAt(portPath);
}

bool SimulatedUsbPlatform::waitForArrival(const std::string& portPath, std::uint64_t seen,
                                          Milliseconds deadline, Clock& clock) {
    for (;;) {
        lookAtBus();
        if (arrivals_.arrivalsAt(portPath) > seen) return true;
        const Milliseconds now = clock.now();
        if (now >= deadline) return false;
        // A hub due back from a reboot is looked for the moment it is due; one
        // plugged in by hand is found at the deadline, as a plain poll finds it.
        Milliseconds wake = deadline;
        if (const std::optional<Milliseconds> due = bus_.returnDueAt(portPath); due && *due > now)
            wake = std::min(wake, *due);
        clock.sleepFor(wake - now);
    }
}

void SimulatedUsbPlatform::deliverEvents() {
    for (;;) {
        Event event;
        HotplugCallback callback;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) return;
            event = std::move(pending_.front());
            pending_.pop_front();
            callback = callback_;
        }
        // Called without the lock: the callback may well list or open devices.
        if (callback) callback(event.kind, event.device);
    }
}

void SimulatedUsbPlatform::pollEvents(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        lookAtBus();
        bool any = false;
        {
            std::lock_guard lock(mutex_);
            any = !pending_.empty();
        }
        if (any) {
            deliverEvents();
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kBusLookInterval, deadline - now));
    }
}

}  // namespace velmora::sim
