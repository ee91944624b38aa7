#include "device/UsbHalves.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <system_error>

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPortNamePart = "-port";
constexpr std::string_view kRootHubPrefix = "usb";

// Only names sysfs gives devices: a crafted path must not lead the lookup elsewhere.
bool plainPortPath(const std::string& portPath) {
    return !portPath.empty() && std::isdigit(static_cast<unsigned char>(portPath.front())) &&
           portPath.find("..") == std::string::npos &&
           std::all_of(portPath.begin(), portPath.end(),
                       [](unsigned char c) { return std::isdigit(c) || c == '-' || c == '.'; });
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The port's path names its hub's device and interface before it, as sysfs lays
// ports out: ".../usb1/1-0:1.0/usb1-port3" -> "1-3"; ".../1-2/1-2:1.0/1-2-port3" -> "1-2.3".
std::string devicePathOnPort(const fs::path& port) {
    const std::string name = port.filename().string();
    const std::size_t split = name.rfind(kPortNamePart);
    if (split == std::string::npos) return {};
    const std::string number = name.substr(split + kPortNamePart.size());
    const std::string hub = port.parent_path().parent_path().filename().string();
    if (!allDigits(number)) return {};
    if (hub.starts_with(kRootHubPrefix) && allDigits(std::string_view(hub).substr(kRootHubPrefix.size())))
        return hub.substr(kRootHubPrefix.size()) + "-" + number;
    return plainPortPath(hub) && hub.find('-') != std::string::npos ? hub + "." + number : std::string{};
}

}  // namespace

// One readlink: the kernel follows the device's and its port's links itself, and
// the peer link it reads is a relative path that ends in the peer's hub, its
// interface and the port. A listing looks up every High-Speed device, so with
// many hubs attached a lookup that walked the path would cost more than the rest.
std::string peerPortPath(const std::string& portPath, const fs::path& systemRoot) {
    if (!plainPortPath(portPath)) return {};
    std::error_code error;
    const fs::path peer =
        fs::read_symlink(systemRoot / "sys/bus/usb/devices" / portPath / "port/peer", error);
    return error ? std::string{} : devicePathOnPort(peer);
}

std::string UsbHalfPairing::peerOf(const UsbDeviceInfo& device, std::map<std::string, std::string>& seen) {
    const auto known = peers_.find(device.platformKey);
    std::string peer = known != peers_.end() ? known->second : peerLookup_(device.portPath);
    seen[device.platformKey] = peer;
    return peer;
}

std::vector<UsbDeviceInfo> UsbHalfPairing::listedOncePerDevice(std::vector<ListedUsbDevice> devices) {
    std::map<std::string, std::size_t> byPort;
    std::set<std::uint16_t> superSpeedVendors;
    for (std::size_t index = 0; index < devices.size(); ++index) {
        byPort[devices[index].info.portPath] = index;
        if (devices[index].superSpeed) superSpeedVendors.insert(devices[index].info.vendorId);
    }
    std::vector<bool> listed(devices.size(), true);
    std::lock_guard lock(mutex_);
    std::map<std::string, std::string> seen;
    for (std::size_t index = 0; index < devices.size(); ++index) {
        const ListedUsbDevice& half = devices[index];
        if (half.superSpeed || superSpeedVendors.count(half.info.vendorId) == 0) continue;
        const auto other = byPort.find(peerOf(half.info, seen));
        if (other == byPort.end()) continue;
        ListedUsbDevice& superSpeedHalf = devices[other->second];
        // Two halves of one device come from one maker.
        if (!superSpeedHalf.superSpeed || superSpeedHalf.info.vendorId != half.info.vendorId) continue;
        superSpeedHalf.info.highSpeedHalfPortPath = half.info.portPath;
        listed[index] = false;
    }
    peers_.swap(seen);  // devices no longer listed are forgotten
    std::vector<UsbDeviceInfo> result;
    for (std::size_t index = 0; index < devices.size(); ++index)
        if (listed[index]) result.push_back(std::move(devices[index].info));
    return result;
}

}  // namespace velmora
