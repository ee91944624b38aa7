#pragma once
// A USB 3 hub (the Zelo Hub is one) is two USB devices to the host: its
// SuperSpeed half on a SuperSpeed port and its High-Speed half on the High-Speed
// port wired to the same connector. Linux links the two ports of a connector as
// peers in sysfs (".../usb2-port1/peer" -> ".../usb1-port1"): between the root
// hubs of one controller, and below a hub between the ports of its two halves.
// The platform lists such a device once, by its SuperSpeed half, and names the
// High-Speed half's port there: the vendor requests go to the SuperSpeed half,
// whose port the hub's ROM code comes back on after a reset.
//
// The container ID in both halves' BOS says the same, but only a request on each
// half's device node can read it, and every hub flashed with one image shows the
// same container ID; the port links need neither.
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device/UsbPlatform.h"

namespace velmora {

struct ListedUsbDevice {
    UsbDeviceInfo info;
    bool superSpeed = false;
};

// The port path of the device position on the peer of portPath's port ("1-1" for
// "2-1"), read from the kernel's port links below systemRoot; empty when the device
// or its port has no peer.
std::string peerPortPath(const std::string& portPath, const std::filesystem::path& systemRoot = "/");

// Pairs the halves of each listing. A device's peer is looked up once per
// enumeration (its platform key) and kept while it is listed: with a hundred hubs
// attached, every listing would otherwise read a hundred links.
class UsbHalfPairing {
public:
    explicit UsbHalfPairing(std::filesystem::path systemRoot = "/") : systemRoot_(std::move(systemRoot)) {}

    // The devices, in their order, with the High-Speed half of each USB 3 device
    // whose SuperSpeed half is listed too left out and named in that half's entry.
    // Safe to call from several threads at once.
    std::vector<UsbDeviceInfo> listedOncePerDevice(std::vector<ListedUsbDevice> devices);

private:
    std::string peerOf(const UsbDeviceInfo& device, std::map<std::string, std::string>& seen);

    std::filesystem::path systemRoot_;
    std::mutex mutex_;
    std::map<std::string, std::string> peers_;  // by platform key
};

}  // namespace velmora
