#include "driver_install/HubAccess.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "app/Hex.h"
#include "device/UsbPlatform.h"

namespace velmora::driver {
namespace {

namespace fs = std::filesystem;

bool allDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string boundDriver(const fs::path& sysfsDevice) {
    std::error_code error;
    const fs::path target = fs::read_symlink(sysfsDevice / "driver", error);
    return error ? std::string{} : target.filename().string();
}

}  // namespace

fs::path deviceNodePath(const std::string& platformKey) {
    const std::size_t slash = platformKey.find('/');
    if (slash == std::string::npos) return {};
    const std::string bus = platformKey.substr(0, slash);
    const std::string device = platformKey.substr(slash + 1);
    if (!allDigits(bus) || !allDigits(device)) return {};
    return fs::path("dev/bus/usb") / bus / device;
}

NodeAccess nodeAccess(const fs::path& node) {
    if (::access(node.c_str(), R_OK | W_OK) == 0) return NodeAccess::Usable;
    return errno == ENOENT ? NodeAccess::Missing : NodeAccess::NotPermitted;
}

AccessRule accessRuleFor(std::uint16_t vendorId, std::uint16_t productId, const fs::path& systemRoot) {
    std::ifstream rule(systemRoot / kAccessRuleFile);
    if (!rule) return AccessRule::Missing;
    const std::string pair = hexIds(vendorId, productId, HexCase::Lower);
    const std::string vendor = "ATTR{idVendor}==\"" + pair.substr(0, 4) + "\"";
    const std::string product = "ATTR{idProduct}==\"" + pair.substr(5) + "\"";
    for (std::string line; std::getline(rule, line);) {
        if (line.starts_with("#")) continue;
        if (line.find(vendor) != std::string::npos && line.find(product) != std::string::npos)
            return AccessRule::ListsHub;
    }
    return AccessRule::OtherHubs;
}

HubDriver hubDriverOf(const std::string& portPath, const fs::path& systemRoot) {
    if (!isPlainPortPath(portPath)) return {};
    const fs::path device = systemRoot / "sys/bus/usb/devices" / portPath;
    if (boundDriver(device) == kModuleName) return {HubDriverKind::Brennic, kModuleName};
    // The device itself is bound to the generic "usb" driver whenever it is
    // configured; who drives the hub is told by its interface.
    const std::string name = boundDriver(device.parent_path() / (portPath + ":1.0"));
    if (name.empty()) return {};
    if (name == "hub") return {HubDriverKind::HubDriver, name};
    return {HubDriverKind::Other, name};
}

std::optional<std::string> loadedModuleIds(const fs::path& systemRoot) {
    const fs::path module = systemRoot / "sys/module" / kModuleName;
    std::error_code error;
    if (!fs::is_directory(module, error)) return std::nullopt;
    std::ifstream parameter(module / "parameters/ids");
    std::string ids;
    std::getline(parameter, ids);
    return ids;
}

bool moduleIdsList(const std::string& ids, std::uint16_t vendorId, std::uint16_t productId) {
    const std::string wanted = hexIds(vendorId, productId, HexCase::Lower);
    std::string lowered = ids;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::size_t start = 0;
    while (start <= lowered.size()) {
        std::size_t end = lowered.find(',', start);
        if (end == std::string::npos) end = lowered.size();
        std::string item = lowered.substr(start, end - start);
        item.erase(std::remove_if(item.begin(), item.end(), [](unsigned char c) { return std::isspace(c); }),
                   item.end());
        if (item == wanted) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace velmora::driver
