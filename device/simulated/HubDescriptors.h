#pragma once
// The descriptors the simulated hub sends: the device descriptor, then its one
// configuration with one vendor-specific interface. The emulated usbfs shows them
// in sysfs, where libusb reads them instead of asking the device; the USB/IP
// server answers the kernel's GET_DESCRIPTOR requests with them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::sim {

struct DeviceIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool superSpeed = true;
    // The index of the serial-number string, 0 when the hub shows none.
    std::uint8_t serialNumberIndex = 0;
};

// The index the hub's flash code gives its serial-number string.
inline constexpr std::uint8_t kSerialNumberStringIndex = 3;

inline constexpr std::size_t kDeviceDescriptorBytes = 18;
inline constexpr std::uint8_t kHubConfigurationValue = 1;

// bcdUSB and bMaxPacketSize0 follow the speed, as they do on a real device.
std::vector<std::uint8_t> deviceDescriptors(const DeviceIdentity& identity);
// String descriptor 0: the one language the hub answers in.
std::vector<std::uint8_t> languageDescriptor();
// A string descriptor holding text, each byte widened to one UTF-16 unit (as the
// hub does with the 8-bit strings of its configuration block).
std::vector<std::uint8_t> stringDescriptor(const std::string& text);

}  // namespace velmora::sim
