#include "testbed/UsbfsDeviceRecord.h"

#include <cstdio>
#include <cstdlib>

#include "testbed/UsbfsDescriptors.h"

namespace velmora::usbfs {

namespace {

constexpr const char* kHostControllerPath = "/sys/devices/pci0000:00/0000:00:14.0";
constexpr const char* kSuperSpeedMegabits = "5000";
constexpr const char* kHighSpeedMegabits = "480";

struct BusAddress {
    unsigned bus = 0;
    unsigned device = 0;
};

BusAddress parsePlatformKey(const std::string& key) {
    BusAddress address;
    address.bus = static_cast<unsigned>(std::strtoul(key.c_str(), nullptr, 10));
    const std::size_t slash = key.find('/');
    if (slash != std::string::npos)
        address.device = static_cast<unsigned>(std::strtoul(key.c_str() + slash + 1, nullptr, 10));
    return address;
}

// "1-4.2" lives below its parent hub "1-4", as in the kernel's device tree.
std::string sysfsPathFor(const std::string& portPath, unsigned bus) {
    std::string path = std::string(kHostControllerPath) + "/usb" + std::to_string(bus);
    for (std::size_t dot = portPath.find('.'); dot != std::string::npos; dot = portPath.find('.', dot + 1))
        path += "/" + portPath.substr(0, dot);
    return path + "/" + portPath;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char pair[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(byte));
        text += pair;
    }
    return text;
}

std::string hexWord(std::uint16_t word) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(word));
    return text;
}

}  // namespace

UsbfsDeviceRecord describeDevice(const UsbDeviceInfo& device, bool superSpeed) {
    const BusAddress address = parsePlatformKey(device.platformKey);
    char busText[8];
    char deviceText[8];
    std::snprintf(busText, sizeof busText, "%03u", address.bus);
    std::snprintf(deviceText, sizeof deviceText, "%03u", address.device);

    UsbfsDeviceRecord record;
    record.sysfsPath = sysfsPathFor(device.portPath, address.bus);
    const std::string nodeName = std::string("bus/usb/") + busText + "/" + deviceText;
    record.deviceNode = "/dev/" + nodeName;

    const std::vector<std::uint8_t> descriptors =
        deviceDescriptors({device.vendorId, device.productId, superSpeed});
    // libusb warns about sysfs values that do not end in a newline; umockdev's
    // record format unescapes "\n" in attribute values.
    std::string& text = record.text;
    text += "P: " + record.sysfsPath.substr(std::string("/sys").size()) + "\n";
    text += "N: " + nodeName + "\n";
    text += "E: SUBSYSTEM=usb\n";
    text += "E: DEVTYPE=usb_device\n";
    text += "E: DRIVER=usb\n";
    text += "E: DEVNAME=" + record.deviceNode + "\n";
    text += std::string("E: BUSNUM=") + busText + "\n";
    text += std::string("E: DEVNUM=") + deviceText + "\n";
    text += "E: PRODUCT=" + hexWord(device.vendorId) + "/" + hexWord(device.productId) + "/100\n";
    text += "A: busnum=" + std::to_string(address.bus) + "\\n\n";
    text += "A: devnum=" + std::to_string(address.device) + "\\n\n";
    text += std::string("A: speed=") + (superSpeed ? kSuperSpeedMegabits : kHighSpeedMegabits) + "\\n\n";
    text += "A: bConfigurationValue=1\\n\n";
    text += "A: idVendor=" + hexWord(device.vendorId) + "\\n\n";
    text += "A: idProduct=" + hexWord(device.productId) + "\\n\n";
    text += "H: descriptors=" + hexBytes(descriptors) + "\n";
    return record;
}

}  // namespace velmora::usbfs
