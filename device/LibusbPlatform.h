#pragma once
// The platform layer over libusb for real hubs. It only ever uses endpoint 0:
// it never claims an interface, sets a configuration or detaches a kernel driver,
// so the hub keeps working as a hub while it is being updated.
#include <mutex>
#include <vector>

#include "device/ArrivalLog.h"
#include "device/UsbHalves.h"
#include "device/UsbPlatform.h"

struct libusb_context;

namespace velmora {

// libusb's error codes (negative ints) in the program's status form.
IOReturn statusFromLibusbError(int error);

class LibusbPlatform final : public UsbPlatform {
public:
    LibusbPlatform();
    ~LibusbPlatform() override;
    LibusbPlatform(const LibusbPlatform&) = delete;
    LibusbPlatform& operator=(const LibusbPlatform&) = delete;

    // False when libusb could not be set up; the platform then lists no device.
    bool isReady() const { return context_ != nullptr; }

    // Asks libusb afresh on every call: a hub re-enumerates under a new address.
    std::vector<UsbDeviceInfo> listDevices() override;
    // The advisory lock of the port (PortLock), shared with every other process.
    ClaimResult claimPort(const std::string& portPath) override;
    // The port lock files that another process holds now (/proc/locks).
    std::vector<HeldPortLock> portsHeldElsewhere() override;
    OpenResult openDevice(const UsbDeviceInfo& device) override;
    bool setHotplugCallback(HotplugCallback callback) override;
    void pollEvents(std::chrono::milliseconds timeout) override;
    std::uint64_t arrivalsAt(const std::string& portPath) override;
    // On the wall clock it handles libusb's events itself, in short slices, or
    // waits for the thread that does; the hot-plug hook counts the arrival on
    // whichever thread runs it. On another clock (the testbed's virtual time, which
    // libusb's events do not follow) it sleeps to the deadline.
    bool waitForArrival(const std::string& portPath, std::uint64_t seen, Milliseconds deadline,
                        Clock& clock) override;

    // Called by libusb's hot-plug hook; queues the event for pollEvents.
    void queueEvent(UsbHotplugEvent kind, UsbDeviceInfo device);

private:
    void registerHotplug();
    void deregisterHotplug();

    libusb_context* context_ = nullptr;
    bool hotplugRegistered_ = false;
    int hotplugHandle_ = 0;
    std::mutex mutex_;
    std::vector<std::pair<UsbHotplugEvent, UsbDeviceInfo>> pending_;
    HotplugCallback callback_;
    ArrivalLog arrivals_;
    UsbHalfPairing halves_;
};

}  // namespace velmora
