#pragma once
// The descriptors the simulated hub sends: the device descriptor, then its one
// configuration with one vendor-specific interface. The emulated usbfs shows them
// in sysfs, where libusb reads them instead of asking the device; the USB/IP
// server answers the kernel's GET_DESCRIPTOR requests with them.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::sim {

struct DeviceIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool superSpeed = true;
};

inline constexpr std::size_t kDeviceDescriptorBytes = 18;
inline constexpr std::uint8_t kHubConfigurationValue = 1;

// bcdUSB and bMaxPacketSize0 follow the speed, as they do on a real device.
std::vector<std::uint8_t> deviceDescriptors(const DeviceIdentity& identity);

}  // namespace velmora::sim
