#include "testbed/UsbfsDeviceRecord.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/Hex.h"
#include "app/TextAppend.h"
#include "device/simulated/HubDescriptors.h"
#include "device/simulated/SimulatedBus.h"

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
    std::string path(kHostControllerPath);
    path.append("/usb").append(std::to_string(bus));
    for (std::size_t dot = portPath.find('.'); dot != std::string::npos; dot = portPath.find('.', dot + 1))
        path.append("/").append(portPath, 0, dot);
    return path.append("/").append(portPath);
}

// The port folder of the device on portPath, as the kernel lays it out: "1-3" on
// ".../usb1/1-0:1.0/usb1-port3", "1-4.2" on ".../usb1/1-4/1-4:1.0/1-4-port2".
std::filesystem::path portFolderOf(const std::string& portPath) {
    const std::filesystem::path device = sysfsPathFor(portPath, sim::busNumberOf(portPath));
    const std::string parent = device.parent_path().filename().string();
    const std::size_t split = portPath.find_last_of("-.");
    const std::string number = portPath.substr(split + 1);
    if (portPath[split] == '-') {
        const std::string bus = parent.substr(std::string("usb").size());
        return device.parent_path() / (bus + "-0:1.0") / (parent + "-port" + number);
    }
    return device.parent_path() / (parent + ":1.0") / (parent + "-port" + number);
}

void addLine(std::string& text, const char* head, const std::string& value, const char* end = "\n") {
    appendText(text, {head, value, end});
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
    std::string nodeName("bus/usb/");
    nodeName.append(busText).append("/").append(deviceText);
    record.deviceNode.append("/dev/").append(nodeName);

    const std::vector<std::uint8_t> descriptors =
        sim::deviceDescriptors({device.vendorId, device.productId, superSpeed});
    // libusb warns about sysfs values that do not end in a newline; umockdev's
    // record format unescapes "\n" in attribute values.
    constexpr const char* kAttributeEnd = "\\n\n";
    std::string& text = record.text;
    addLine(text, "P: ", record.sysfsPath.substr(std::string("/sys").size()));
    addLine(text, "N: ", nodeName);
    text.append("E: SUBSYSTEM=usb\n");
    text.append("E: DEVTYPE=usb_device\n");
    text.append("E: DRIVER=usb\n");
    addLine(text, "E: DEVNAME=", record.deviceNode);
    addLine(text, "E: BUSNUM=", busText);
    addLine(text, "E: DEVNUM=", deviceText);
    std::string product = hexText(device.vendorId, 4, HexCase::Lower);
    product.append("/").append(hexText(device.productId, 4, HexCase::Lower)).append("/100");
    addLine(text, "E: PRODUCT=", product);
    addLine(text, "A: busnum=", std::to_string(address.bus), kAttributeEnd);
    addLine(text, "A: devnum=", std::to_string(address.device), kAttributeEnd);
    addLine(text, "A: speed=", superSpeed ? kSuperSpeedMegabits : kHighSpeedMegabits, kAttributeEnd);
    text.append("A: bConfigurationValue=1").append(kAttributeEnd);
    addLine(text, "A: idVendor=", hexText(device.vendorId, 4, HexCase::Lower), kAttributeEnd);
    addLine(text, "A: idProduct=", hexText(device.productId, 4, HexCase::Lower), kAttributeEnd);
    // Autosuspend allowed, as the kernel leaves a hub the hub driver binds: what an
    // update turns off for its flash span.
    text.append("A: power/control=auto").append(kAttributeEnd);
    addLine(text, "H: descriptors=", hexBytes(descriptors, HexCase::Lower));
    return record;
}

bool linkPortToPeer(const std::string& rootDirectory, const std::string& portPath) {
    namespace fs = std::filesystem;
    const std::string peerPath = sim::peerPortOf(portPath);
    if (peerPath.empty()) return true;
    const fs::path root = rootDirectory;
    const fs::path port = root / portFolderOf(portPath).relative_path();
    const fs::path peer = root / portFolderOf(peerPath).relative_path();
    const fs::path device =
        root / fs::path(sysfsPathFor(portPath, sim::busNumberOf(portPath))).relative_path();
    std::error_code error;
    for (const fs::path& folder : {port, peer, device}) fs::create_directories(folder, error);
    const auto link = [&error](const fs::path& target, const fs::path& from) {
        if (!fs::is_symlink(from, error))
            fs::create_directory_symlink(fs::relative(target, from.parent_path()), from, error);
    };
    link(port, device / "port");
    link(peer, port / "peer");
    link(port, peer / "peer");
    return !error;
}

}  // namespace velmora::usbfs
