#include "device/simulated/SimulatedBus.h"

#include <cstdio>
#include <cstdlib>

namespace velmora::sim {

unsigned busNumberOf(const std::string& portPath) {
    return static_cast<unsigned>(std::strtoul(portPath.c_str(), nullptr, 10));
}

namespace {
constexpr unsigned kTwinOffset = 127;
constexpr unsigned kLastTwinnedBus = 2 * kTwinOffset;
}  // namespace

std::string peerPortOf(const std::string& portPath) {
    const std::size_t dash = portPath.find('-');
    const unsigned bus = busNumberOf(portPath);
    if (dash == std::string::npos || bus == 0 || bus > kLastTwinnedBus) return {};
    const unsigned peer = bus > kTwinOffset ? bus - kTwinOffset : bus + kTwinOffset;
    return std::to_string(peer) + portPath.substr(dash);
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

UsbDeviceInfo SimulatedBus::describe(Appearance& appearance, const std::string& portPath,
                                     std::uint16_t vendorId, std::uint16_t productId,
                                     std::uint64_t enumeration) {
    // Every new appearance on the bus gets the next device number, so a hub that
    // comes back from a reset is a new device to the host.
    if (!appearance.wasPresent || enumeration != appearance.seenEnumeration) {
        appearance.deviceNumber = ++lastDeviceNumber_[busNumberOf(portPath)];
        appearance.seenEnumeration = enumeration;
    }
    appearance.wasPresent = true;
    UsbDeviceInfo info;
    info.vendorId = vendorId;
    info.productId = productId;
    info.portPath = portPath;
    char key[16];
    std::snprintf(key, sizeof key, "%03u/%03u", busNumberOf(portPath) % 1000, appearance.deviceNumber % 1000);
    info.platformKey = key;
    return info;
}

std::vector<BusDevice> SimulatedBus::presentDevices() {
    std::lock_guard lock(mutex_);
    std::vector<BusDevice> devices;
    for (Slot& slot : slots_) {
        if (!isPresent(slot)) {
            slot.first.wasPresent = false;
            slot.highSpeedHalf.wasPresent = false;
            continue;
        }
        if (!slot.hub) {
            devices.push_back(
                {describe(slot.first, slot.portPath, slot.vendorId, slot.productId, slot.plainEnumeration),
                 nullptr, slot.plainEnumeration, false});
            continue;
        }
        const std::uint64_t enumeration = slot.hub->enumeration();
        const std::vector<HubFace> faces = slot.hub->faces();
        const HubFace& own = faces.front();
        devices.push_back({describe(slot.first, slot.portPath, own.vendorId, own.productId, enumeration),
                           slot.hub, enumeration, own.superSpeed});
        if (faces.size() < 2) {
            slot.highSpeedHalf.wasPresent = false;
            continue;
        }
        const HubFace& half = faces[1];
        devices.push_back({describe(slot.highSpeedHalf, peerPortOf(slot.portPath), half.vendorId,
                                    half.productId, enumeration),
                           slot.hub, enumeration, false});
    }
    return devices;
}

bool SimulatedBus::claimPort(const std::string& portPath) {
    std::lock_guard lock(mutex_);
    const std::string peer = peerPortOf(portPath);
    if (claimedPorts_[portPath] || (!peer.empty() && claimedPorts_[peer])) return false;
    claimedPorts_[portPath] = true;
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
