#pragma once
// A USB 3 hub (the Zelo Hub is one) is two USB devices to the host: its
// SuperSpeed half on a SuperSpeed port and its High-Speed half on the High-Speed
// port wired to the same connector. Linux links the two ports of a connector as
// peers in sysfs (".../usb2-port1/peer" -> ".../usb1-port1"): between the root
// hubs of one controller, and below a hub between the ports of its two halves.
// The platform lists such a device once, by its SuperSpeed half, and names the
// High-Speed half's port there. The vendor requests go to the SuperSpeed half:
// the hub's ROM code has no hub function and comes back from a reset as one
// device on the SuperSpeed link, on that half's port, so the run that opened the
// SuperSpeed half finds its hub again on the port it holds; the High-Speed half is
// gone for as long as the ROM code runs. A claim on a hub's port is refused while
// its peer port is held (the platforms' claimPort), so a run that reached the hub
// by either half excludes a run on the other, also while one half is listed
// before the other.
//
// The container ID in both halves' BOS says the same, but only a request on each
// half's device node can read it, and every hub flashed with one image shows the
// same container ID; the port links need neither.
#include <filesystem>
#include <functional>
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
    // The port path on the peer of a port's connector, empty when it has none.
    using PeerLookup = std::function<std::string(const std::string& portPath)>;

    // Peers from the kernel's port links below systemRoot.
    explicit UsbHalfPairing(const std::filesystem::path& systemRoot = "/")
        : peerLookup_(
              [systemRoot](const std::string& portPath) { return peerPortPath(portPath, systemRoot); }) {}
    // Peers as a bus of another kind links them (the simulated bus).
    explicit UsbHalfPairing(PeerLookup peerLookup) : peerLookup_(std::move(peerLookup)) {}

    // The devices, in their order, with the High-Speed half of each USB 3 device
    // whose SuperSpeed half is listed too left out and named in that half's entry.
    // Safe to call from several threads at once.
    std::vector<UsbDeviceInfo> listedOncePerDevice(std::vector<ListedUsbDevice> devices);

private:
    std::string peerOf(const UsbDeviceInfo& device, std::map<std::string, std::string>& seen);

    PeerLookup peerLookup_;
    std::mutex mutex_;
    std::map<std::string, std::string> peers_;  // by platform key
};

}  // namespace velmora
