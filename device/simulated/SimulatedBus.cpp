#include "device/simulated/SimulatedBus.h"

#include <cstdio>
#include <cstdlib>

namespace velmora::sim {

unsigned busNumberOf(const std::string& portPath) {
    return static_cast<unsigned>(std::strtoul(portPath.c_str(), nullptr, 10));
}

SimulatedHub& SimulatedBus::addHub(SimulatedHubConfig config) {
    auto hub = std::make_shared<SimulatedHub>(config, clock_);
    std::lock_guard lock(mutex_);
    Slot slot;
    slot.hub = hub;
    slot.portPath = config.portPath;
    slots_.push_back(std::move(slot));
    return *hub;
}

void SimulatedBus::addPlainDevice(std::uint16_t vendorId, std::uint16_t productId, std::string portPath) {
    std::lock_guard lock(mutex_);
    Slot slot;
    slot.vendorId = vendorId;
    slot.productId = productId;
    slot.portPath = std::move(portPath);
    slots_.push_back(std::move(slot));
}

void SimulatedBus::unplug(const std::string& portPath) {
    std::lock_guard lock(mutex_);
    for (Slot& slot : slots_) {
        if (slot.portPath != portPath) continue;
        if (slot.hub) slot.hub->unplug();
        slot.plainPluggedIn = false;
    }
}

void SimulatedBus::plugIn(const std::string& portPath) {
    std::lock_guard lock(mutex_);
    for (Slot& slot : slots_) {
        if (slot.portPath != portPath) continue;
        if (slot.hub) slot.hub->plugIn();
        if (!slot.hub && !slot.plainPluggedIn) ++slot.plainEnumeration;
        slot.plainPluggedIn = true;
    }
}

std::vector<SimulatedHub*> SimulatedBus::hubs() const {
    std::lock_guard lock(mutex_);
    std::vector<SimulatedHub*> result;
    for (const Slot& slot : slots_)
        if (slot.hub) result.push_back(slot.hub.get());
    return result;
}

SimulatedHub* SimulatedBus::hubAt(const std::string& portPath) const {
    std::lock_guard lock(mutex_);
    for (const Slot& slot : slots_)
        if (slot.hub && slot.portPath == portPath) return slot.hub.get();
    return nullptr;
}

std::optional<Milliseconds> SimulatedBus::returnDueAt(const std::string& portPath) const {
    SimulatedHub* hub = hubAt(portPath);
    return hub ? hub->returnDueAt() : std::nullopt;
}

bool SimulatedBus::isPresent(Slot& slot) const {
    return slot.hub ? slot.hub->isOnBus() : slot.plainPluggedIn;
}

UsbDeviceInfo SimulatedBus::describe(Slot& slot, std::uint64_t enumeration) {
    // Every new appearance on the bus gets the next device number, so a hub that
    // comes back from a reset is a new device to the host.
    if (!slot.wasPresent || enumeration != slot.seenEnumeration) {
        slot.deviceNumber = ++lastDeviceNumber_[busNumberOf(slot.portPath)];
        slot.seenEnumeration = enumeration;
    }
    UsbDeviceInfo info;
    info.vendorId = slot.hub ? slot.hub->vendorId() : slot.vendorId;
    info.productId = slot.hub ? slot.hub->productId() : slot.productId;
    info.portPath = slot.portPath;
    char key[16];
    std::snprintf(key, sizeof key, "%03u/%03u", busNumberOf(slot.portPath) % 1000, slot.deviceNumber % 1000);
    info.platformKey = key;
    return info;
}

std::vector<BusDevice> SimulatedBus::presentDevices() {
    std::lock_guard lock(mutex_);
    std::vector<BusDevice> devices;
    for (Slot& slot : slots_) {
        const bool present = isPresent(slot);
        if (present) {
            const std::uint64_t enumeration = slot.hub ? slot.hub->enumeration() : slot.plainEnumeration;
            devices.push_back({describe(slot, enumeration), slot.hub, enumeration});
        }
        slot.wasPresent = present;
    }
    return devices;
}

bool SimulatedBus::claimPort(const std::string& portPath) {
    std::lock_guard lock(mutex_);
    bool& claimed = claimedPorts_[portPath];
    if (claimed) return false;
    claimed = true;
    return true;
}

void SimulatedBus::releasePort(const std::string& portPath) {
    std::lock_guard lock(mutex_);
    claimedPorts_[portPath] = false;
}

bool SimulatedBus::isPortClaimed(const std::string& portPath) const {
    std::lock_guard lock(mutex_);
    auto found = claimedPorts_.find(portPath);
    return found != claimedPorts_.end() && found->second;
}

std::vector<std::string> SimulatedBus::claimedPorts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> claimed;
    for (const auto& [port, held] : claimedPorts_)
        if (held) claimed.push_back(port);
    return claimed;
}

}  // namespace velmora::sim
