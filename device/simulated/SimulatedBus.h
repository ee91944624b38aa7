#pragma once
// A USB bus with simulated hubs (and plain devices such as a mouse), each on its
// own port. Device numbers grow with every enumeration, as on a real bus, and a
// hub that resets is absent until its reboot time has passed on the bus's clock.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/Clock.h"
#include "device/UsbPlatform.h"
#include "device/simulated/SimulatedHub.h"

namespace velmora::sim {

// One device as the bus presents it right now.
struct BusDevice {
    UsbDeviceInfo info;
    std::shared_ptr<SimulatedHub> hub;  // null for a plain device
    std::uint64_t enumeration = 0;
};

class SimulatedBus {
public:
    explicit SimulatedBus(Clock& clock) : clock_(clock) {}
    SimulatedBus(const SimulatedBus&) = delete;
    SimulatedBus& operator=(const SimulatedBus&) = delete;

    Clock& clock() { return clock_; }

    // Devices are listed in the order they were added.
    SimulatedHub& addHub(SimulatedHubConfig config);
    void addPlainDevice(std::uint16_t vendorId, std::uint16_t productId, std::string portPath);
    void unplug(const std::string& portPath);
    void plugIn(const std::string& portPath);

    std::vector<SimulatedHub*> hubs() const;
    // When the hub on the port comes back from the reboot it is in; none when it is
    // not rebooting or will not come back by itself.
    std::optional<Milliseconds> returnDueAt(const std::string& portPath) const;
    SimulatedHub* hubAt(const std::string& portPath) const;

    // The devices on the bus now, in port order of addition.
    std::vector<BusDevice> presentDevices();

    // The bus's stand-in for an advisory lock: one holder per port at a time.
    bool claimPort(const std::string& portPath);
    void releasePort(const std::string& portPath);
    bool isPortClaimed(const std::string& portPath) const;
    std::vector<std::string> claimedPorts() const;

private:
    struct Slot {
        std::shared_ptr<SimulatedHub> hub;
        std::uint16_t vendorId = 0;   // plain devices
        std::uint16_t productId = 0;  // plain devices
        std::string portPath;
        bool plainPluggedIn = true;
        std::uint64_t plainEnumeration = 1;
        bool wasPresent = false;
        std::uint64_t seenEnumeration = 0;
        unsigned deviceNumber = 0;
    };
    bool isPresent(Slot& slot) const;
    UsbDeviceInfo describe(Slot& slot, std::uint64_t enumeration);

    Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<Slot> slots_;
    std::map<unsigned, unsigned> lastDeviceNumber_;  // per bus number
    std::map<std::string, bool> claimedPorts_;
};

// The bus number of a port path "B-P.P...".
unsigned busNumberOf(const std::string& portPath);

}  // namespace velmora::sim
