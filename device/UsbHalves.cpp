#include "device/UsbHalves.h"

#include <algorithm>
#include <cctype>
#include <map>
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

// ".../usb1/1-0:1.0/usb1-port3" -> "1-3"; ".../1-2/1-2:1.0/1-2-port3" -> "1-2.3".
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

std::string peerPortPath(const std::string& portPath, const fs::path& systemRoot) {
    if (!plainPortPath(portPath)) return {};
    std::error_code error;
    const fs::path peer = fs::canonical(systemRoot / "sys/bus/usb/devices" / portPath / "port/peer", error);
    return error ? std::string{} : devicePathOnPort(peer);
}

std::vector<UsbDeviceInfo> listedOncePerDevice(std::vector<ListedUsbDevice> devices,
                                               const fs::path& systemRoot) {
    std::map<std::string, std::size_t> byPort;
    for (std::size_t index = 0; index < devices.size(); ++index) byPort[devices[index].info.portPath] = index;
    std::vector<bool> listed(devices.size(), true);
    for (std::size_t index = 0; index < devices.size(); ++index) {
        const ListedUsbDevice& half = devices[index];
        if (half.superSpeed) continue;
        const auto other = byPort.find(peerPortPath(half.info.portPath, systemRoot));
        if (other == byPort.end()) continue;
        ListedUsbDevice& superSpeedHalf = devices[other->second];
        // Two halves of one device come from one maker.
        if (!superSpeedHalf.superSpeed || superSpeedHalf.info.vendorId != half.info.vendorId) continue;
        superSpeedHalf.info.highSpeedHalfPortPath = half.info.portPath;
        listed[index] = false;
    }
    std::vector<UsbDeviceInfo> result;
    for (std::size_t index = 0; index < devices.size(); ++index)
        if (listed[index]) result.push_back(std::move(devices[index].info));
    return result;
}

}  // namespace velmora
