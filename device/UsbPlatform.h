#pragma once
// The platform layer: the least a hub updater needs of a USB stack. Two
// implementations sit behind it, libusb for real hubs and the simulated hub.
// Nothing above device/ sees a libusb type.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/Clock.h"
#include "device/LockHolder.h"
#include "device/UsbStatus.h"

namespace velmora {

// One setup packet. wLength data bytes go with it (to the hub for 0x40, from it for 0xC0).
struct UsbSetup {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;

    // The eight bytes as they go on the wire: words little-endian.
    std::array<std::uint8_t, 8> wireBytes() const;
    bool isDeviceToHost() const { return (bmRequestType & 0x80) != 0; }
};

// The status of a transfer that completed after moving transferred bytes of its
// data stage: kIOReturnUnderrun for a device-to-host transfer that brought fewer
// bytes than asked for, else success. Every platform ends its transfers through it.
IOReturn transferredStatus(const UsbSetup& setup, std::size_t transferred);

// "0xE00002C5": a status as traces, recordings and messages write it.
std::string statusText(IOReturn status);

// "ctrl 40 02 01 00 7A 2E 00 00 -> 0x00000000": one request and its status, as traced.
std::string formatTraceLine(const UsbSetup& setup, IOReturn status);

struct UsbDeviceInfo {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // Bus and port chain, e.g. "1-4.2". Stays the same when the hub re-enumerates on
    // the same port, unlike the device address.
    std::string portPath;
    // The platform's own key for this enumeration of the device (e.g. "001/005").
    std::string platformKey;
    // For the SuperSpeed half of a USB 3 hub, the port of its High-Speed half ("1-4.2"
    // for "2-4.2"), which the platform lists under this entry (UsbHalves.h); else empty.
    std::string highSpeedHalfPortPath{};
};

// True for a port path as the kernel names ports ("1-4.2": digits, '-' and '.'):
// a crafted one must not lead a sysfs lookup elsewhere.
bool isPlainPortPath(const std::string& portPath);

// A device opened for this process's exclusive use. Destroying it closes the device.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // Sends one control request on endpoint 0 and waits for it, at most timeout
    // (abandoning it then). data holds wLength bytes.
    virtual IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data, Milliseconds timeout) = 0;
};

enum class UsbHotplugEvent { Arrived, Left };

// A hold on one USB port: while it lives, no other holder (another connection of
// this process, another process) can claim that port. It is the port that is held,
// not the device, so a hold outlives the resets after which the hub comes back as
// a new device on the same port. Destroying it releases the port.
class PortClaim {
public:
    virtual ~PortClaim() = default;
};

class UsbPlatform {
public:
    virtual ~UsbPlatform() = default;

    // Attached devices, in the platform's order.
    virtual std::vector<UsbDeviceInfo> listDevices() = 0;

    struct ClaimResult {
        std::unique_ptr<PortClaim> claim;  // null when refused
        IOReturn status = kIOReturnError;
        // When the port's lock file itself is unusable (a FIFO or a device planted
        // at its path, a folder that cannot be written), the lock's own words.
        std::string problem;
    };
    // Claims a port for one holder. Never waits: a port held elsewhere is refused at
    // once with kIOReturnExclusiveAccess. A platform that no other program shares
    // (the default) hands out claims that hold nothing.
    virtual ClaimResult claimPort(const std::string& portPath);
    // The ports whose claim another holder has now (another process; on a bus
    // shared only in this process, another connection), with the holder as far as
    // the platform knows it. A claim ends with its holder, so a run that has ended
    // or crashed holds nothing. The default platform shares no claims: none.
    virtual std::vector<HeldPortLock> portsHeldElsewhere();

    struct OpenResult {
        std::unique_ptr<UsbDevice> device;  // null on failure
        IOReturn status = kIOReturnError;
    };
    // Opens the device for exclusive use. The caller claims the device's port first
    // (HubConnection does); a device that another driver holds is refused with
    // kIOReturnExclusiveAccess.
    virtual OpenResult openDevice(const UsbDeviceInfo& device) = 0;

    // Arrival and removal of any USB device. The callback runs on the thread that
    // calls pollEvents. Returns false when the platform cannot watch the bus.
    using HotplugCallback = std::function<void(UsbHotplugEvent, const UsbDeviceInfo&)>;
    virtual bool setHotplugCallback(HotplugCallback callback) = 0;
    virtual void pollEvents(std::chrono::milliseconds timeout) = 0;

    // Arrivals seen on a port so far: taken before a hub is reset, it is what
    // waitForArrival waits to see grow.
    virtual std::uint64_t arrivalsAt(const std::string& portPath);
    // Waits until a device arrives on the port (arrivalsAt grows past seen) or the
    // clock reaches deadline; true on an arrival. Works whoever handles the
    // platform's events: a pump thread, or nobody, in which case the wait handles
    // them itself. A platform that cannot see arrivals (the default) sleeps to the
    // deadline, which makes every wait a fixed one.
    virtual bool waitForArrival(const std::string& portPath, std::uint64_t seen, Milliseconds deadline,
                                Clock& clock);
};

}  // namespace velmora
