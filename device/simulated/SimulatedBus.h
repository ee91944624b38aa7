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

// One device as the bus presents it right now: a plain device, or one face of a
// hub (its SuperSpeed half, its High-Speed half, or its ROM code's device).
struct BusDevice {
    UsbDeviceInfo info;
    std::shared_ptr<SimulatedHub> hub;  // null for a plain device
    std::uint64_t enumeration = 0;
    bool superSpeed = false;  // on the connector's SuperSpeed link
};

// The port wired to the same connector as a port, as the kernel links them as
// peers: buses 1 to 127 and their twins 127 numbers up, 128 to 254 ("1-4.2" and
// "128-4.2"), within the byte libusb keeps a bus number in; none for bus 255.
std::string peerPortOf(const std::string& portPath);

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

    // The devices on the bus now, in port order of addition: a USB 3 hub running
    // its flash code as its two halves, its SuperSpeed half on the hub's port and
    // its High-Speed half on that port's peer (peerPortOf).
    std::vector<BusDevice> presentDevices();

    // The bus's stand-in for an advisory lock: one holder per port at a time. The
    // hub on a port is the hub on its peer: a claim is refused while either is held.
    bool claimPort(const std::string& portPath);
    void releasePort(const std::string& portPath);
    bool isPortClaimed(const std::string& portPath) const;
    std::vector<std::string> claimedPorts() const;

private:
    // One device's appearances on its port: a new one gets the next device number.
    struct Appearance {
        bool wasPresent = false;
        std::uint64_t seenEnumeration = 0;
        unsigned deviceNumber = 0;
    };
    struct Slot {
        std::shared_ptr<SimulatedHub> hub;
        std::uint16_t vendorId = 0;   // plain devices
        std::uint16_t productId = 0;  // plain devices
        std::string portPath;
        bool plainPluggedIn = true;
        std::uint64_t plainEnumeration = 1;
        Appearance first;          // the device on the slot's own port
        Appearance highSpeedHalf;  // a hub's High-Speed half, on the peer port
    };
    bool isPresent(Slot& slot) const;
    UsbDeviceInfo describe(Appearance& appearance, const std::string& portPath, std::uint16_t vendorId,
                           std::uint16_t productId, std::uint64_t enumeration);

    Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<Slot> slots_;
    std::map<unsigned, unsigned> lastDeviceNumber_;  // per bus number
    std::map<std::string, bool> claimedPorts_;
};

// The bus number of a port path "B-P.P...".
unsigned busNumberOf(const std::string& portPath);

}  // namespace velmora::sim
