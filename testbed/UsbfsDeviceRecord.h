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

// Lays out, below the testbed's root folder, the port a device on portPath sits
// on and the kernel's links between it and its peer port (the simulated bus's
// peerPortOf): the device's "port" link and each port's "peer", by which the
// platform pairs a USB 3 hub's two halves. False when they cannot be made.
bool linkPortToPeer(const std::string& rootDirectory, const std::string& portPath);

}  // namespace velmora::usbfs
