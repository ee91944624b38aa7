#pragma once
// The descriptors the simulated hub sends. In its flash code each half of the hub
// is a hub of its own: the device descriptor with the hub class, one configuration
// with one hub interface and its interrupt-IN status endpoint, the hub descriptor
// of its speed, and a BOS with the container ID both halves share. In its ROM code
// it is one vendor-specific device with no endpoint beyond endpoint 0. The emulated
// usbfs shows them in sysfs, where libusb reads them instead of asking the device;
// the USB/IP server answers the kernel's GET_DESCRIPTOR requests with them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::sim {

using ContainerId = std::array<std::uint8_t, 16>;

struct DeviceIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool superSpeed = true;
    // The index of the serial-number string, 0 when the hub shows none.
    std::uint8_t serialNumberIndex = 0;
    // A hub half (class 9, a status endpoint); else the ROM code's vendor-specific device.
    bool hubClass = false;
};

// The index the hub's flash code gives its serial-number string.
inline constexpr std::uint8_t kSerialNumberStringIndex = 3;

inline constexpr std::size_t kDeviceDescriptorBytes = 18;
inline constexpr std::uint8_t kHubConfigurationValue = 1;

// The hub function, the same in both halves: four downstream ports, each with its
// own power switch and its own over-current report, not part of a compound device,
// no port indicators, the shortest transaction-translator think time (8 full-speed
// bit times), self-powered, 100 ms from power-on to power good. The configuration
// claims no remote wakeup, so the host never suspends a hub whose ports are empty:
// it would have to be woken by a remote wakeup it cannot ask for.
inline constexpr std::uint8_t kHubDownstreamPorts = 4;
inline constexpr std::uint16_t kHubCharacteristics = 0x0009;
inline constexpr std::uint8_t kHubPowerOnToGoodUnits = 50;  // 2 ms each
inline constexpr std::uint8_t kHubStatusEndpoint = 0x81;    // interrupt IN, endpoint 1
inline constexpr std::uint8_t kHighSpeedHubDescriptorType = 0x29;
inline constexpr std::uint8_t kSuperSpeedHubDescriptorType = 0x2A;

// The device descriptor, then the configuration with its interface (and, for a
// hub half, its endpoint). bcdUSB and bMaxPacketSize0 follow the speed, as they do
// on a real device.
std::vector<std::uint8_t> deviceDescriptors(const DeviceIdentity& identity);
// The hub class descriptor of a hub half of that speed.
std::vector<std::uint8_t> hubDescriptor(bool superSpeed);
// The binary object store: the USB 2.0 extension (no link power management), for
// SuperSpeed the SuperSpeed capability (no U1 or U2 exit latency, so the host keeps
// the link in U0), and the container ID when there is one.
std::vector<std::uint8_t> bosDescriptor(bool superSpeed, const std::optional<ContainerId>& containerId);
// String descriptor 0: the one language the hub answers in.
std::vector<std::uint8_t> languageDescriptor();
// A string descriptor holding text, each byte widened to one UTF-16 unit (as the
// hub does with the 8-bit strings of its configuration block).
std::vector<std::uint8_t> stringDescriptor(const std::string& text);

}  // namespace velmora::sim
