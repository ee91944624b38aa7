#pragma once
// What stands between this user and a hub on the machine: its device node, the
// access rule the load script installs, the kernel driver bound to it and the
// Brennic module. Read from /dev, /etc and /sys; systemRoot is "/" but for tests,
// which lay out a fake tree below it.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace velmora::driver {

// Written by the load script, removed by the unload script: tags the listed hubs
// with uaccess, so the user at the seat may open them.
inline constexpr const char* kAccessRuleFile = "etc/udev/rules.d/70-velmora-brennic.rules";
inline constexpr const char* kModuleName = "brennic";

// "dev/bus/usb/001/005" for the platform key "001/005" (bus and device number);
// empty for a key of another form (a simulated bus's).
std::filesystem::path deviceNodePath(const std::string& platformKey);

enum class NodeAccess { Usable, Missing, NotPermitted };
// Whether this process may open the node for reading and writing, as usbfs needs.
NodeAccess nodeAccess(const std::filesystem::path& node);

enum class AccessRule { Missing, ListsHub, OtherHubs };
AccessRule accessRuleFor(std::uint16_t vendorId, std::uint16_t productId,
                         const std::filesystem::path& systemRoot = "/");

enum class HubDriverKind { None, HubDriver, Brennic, Other };
struct HubDriver {
    HubDriverKind kind = HubDriverKind::None;
    std::string name;  // the driver's own name, for Other
};
// The driver bound to the hub on portPath ("1-4.2"): Brennic binds to the USB
// device itself, the hub driver to the device's first interface.
HubDriver hubDriverOf(const std::string& portPath, const std::filesystem::path& systemRoot = "/");

// The IDs the loaded module holds ("2fe3:0611,2fe3:0610"); nothing when it is not loaded.
std::optional<std::string> loadedModuleIds(const std::filesystem::path& systemRoot = "/");
// Whether an ids text of the module lists this hub.
bool moduleIdsList(const std::string& ids, std::uint16_t vendorId, std::uint16_t productId);

}  // namespace velmora::driver
