#pragma once
// How one device on the simulated bus is described to umockdev: its sysfs
// folder, its usbfs node and the udev properties and attributes libusb reads.
#include <cstdint>
#include <string>

#include "device/UsbPlatform.h"

namespace velmora::usbfs {

struct UsbfsDeviceRecord {
    std::string sysfsPath;   // /sys/devices/.../usb1/1-1
    std::string deviceNode;  // /dev/bus/usb/001/005
    std::string text;        // the record in umockdev's P:/N:/E:/A:/H: format
};

// device.platformKey is "BBB/DDD", bus and device number.
UsbfsDeviceRecord describeDevice(const UsbDeviceInfo& device, bool superSpeed);

}  // namespace velmora::usbfs
