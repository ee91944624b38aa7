#pragma once
// The descriptors an emulated device shows in sysfs. libusb reads them from the
// `descriptors` attribute instead of asking the device, so they must be exactly
// what a device would send: the device descriptor, then its one configuration.
#include <cstdint>
#include <vector>

namespace velmora::usbfs {

struct DeviceIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool superSpeed = true;
};

// bcdUSB and bMaxPacketSize0 follow the speed, as they do on a real device.
std::vector<std::uint8_t> deviceDescriptors(const DeviceIdentity& identity);

}  // namespace velmora::usbfs
