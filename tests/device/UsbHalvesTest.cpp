// A USB 3 hub's two halves are listed once, by the SuperSpeed half, when the
// kernel links their ports as peers: on a fake sysfs tree laid out as Linux does,
// root ports of one controller and the ports below a hub's two halves.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/UsbHalves.h"
#include "tests/support/ScratchFolder.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kVendor = 0x2FE3;

class UsbHalvesTest : public ::testing::Test {
protected:
    // The hub device folder below the controller: "usb2" for a root hub, "2-1" for a hub.
    fs::path hubFolder(const std::string& hub) const {
        const std::string bus = hub.starts_with("usb") ? hub.substr(3) : hub.substr(0, hub.find('-'));
        fs::path folder = folder_.path() / "sys/devices/pci0000:00/0000:00:14.0" / ("usb" + bus);
        return hub.starts_with("usb") ? folder : folder / hub;
    }
    fs::path port(const std::string& hub, int number) const {
        const std::string interface = (hub.starts_with("usb") ? hub.substr(3) + "-0" : hub) + ":1.0";
        return hubFolder(hub) / interface / (hub + "-port" + std::to_string(number));
    }
    void linkPeers(const fs::path& first, const fs::path& second) {
        fs::create_directories(first);
        fs::create_directories(second);
        fs::create_directory_symlink(fs::relative(second, first), first / "peer");
        fs::create_directory_symlink(fs::relative(first, second), second / "peer");
    }
    // The device on a hub's port, listed under its port path as sysfs lists it.
    void plug(const std::string& hub, int number, const std::string& portPath) {
        const fs::path device =
            (hub.starts_with("usb") ? hubFolder(hub) : hubFolder(hub).parent_path()) / portPath;
        fs::create_directories(device);
        fs::create_directory_symlink(fs::relative(port(hub, number), device), device / "port");
        fs::create_directories(folder_.path() / "sys/bus/usb/devices");
        fs::create_directory_symlink(fs::relative(device, folder_.path() / "sys/bus/usb/devices"),
                                     folder_.path() / "sys/bus/usb/devices" / portPath);
    }
    ListedUsbDevice listed(const std::string& portPath, bool superSpeed, std::uint16_t vendor = kVendor) {
        return {UsbDeviceInfo{
                    vendor, superSpeed ? std::uint16_t{0x0611} : std::uint16_t{0x0610}, portPath, {}, {}},
                superSpeed};
    }

    testing::ScratchFolder folder_;
};

TEST_F(UsbHalvesTest, TheHighSpeedHalfIsNamedByItsSuperSpeedHalf) {
    // Root ports 1 and 2 of one controller, and a hub's two halves on port 1 with
    // their own ports 3 linked in turn.
    linkPeers(port("usb1", 1), port("usb2", 1));
    linkPeers(port("usb1", 2), port("usb2", 2));
    plug("usb1", 1, "1-1");
    plug("usb2", 1, "2-1");
    linkPeers(port("1-1", 3), port("2-1", 3));
    plug("1-1", 3, "1-1.3");
    plug("2-1", 3, "2-1.3");
    plug("usb1", 2, "1-2");
    EXPECT_EQ(peerPortPath("2-1", folder_.path()), "1-1");
    EXPECT_EQ(peerPortPath("1-1.3", folder_.path()), "2-1.3");
    EXPECT_EQ(peerPortPath("1-2", folder_.path()), "2-2")
        << "a port's peer, whether a device is on it or not";
    EXPECT_EQ(peerPortPath("../1-1", folder_.path()), "");

    struct Case {
        const char* what;
        std::vector<ListedUsbDevice> devices;
        std::vector<std::pair<std::string, std::string>> expected;  // port, its High-Speed half's port
    };
    const Case cases[] = {
        {"both halves, in either order",
         {listed("1-1", false), listed("1-1.3", false), listed("2-1", true), listed("2-1.3", true)},
         {{"2-1", "1-1"}, {"2-1.3", "1-1.3"}}},
        {"a High-Speed device alone on a USB 3 connector", {listed("1-2", false)}, {{"1-2", ""}}},
        {"a SuperSpeed device alone", {listed("2-1", true)}, {{"2-1", ""}}},
        {"two makers on one connector are two devices",
         {listed("1-1", false, 0x1234), listed("2-1", true)},
         {{"1-1", ""}, {"2-1", ""}}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, std::string>> shown;
        for (const UsbDeviceInfo& device : UsbHalfPairing(folder_.path()).listedOncePerDevice(c.devices))
            shown.emplace_back(device.portPath, device.highSpeedHalfPortPath);
        EXPECT_EQ(shown, c.expected) << c.what;
    }

    // A device's peer is read once per enumeration: the same device keeps it, a new
    // enumeration on the port reads it again.
    UsbHalfPairing pairing(folder_.path());
    const auto highSpeedHalfOf = [&pairing, this](const std::string& key) {
        ListedUsbDevice highSpeed = listed("1-1", false);
        highSpeed.info.platformKey = key;
        return pairing.listedOncePerDevice({highSpeed, listed("2-1", true)}).front().highSpeedHalfPortPath;
    };
    EXPECT_EQ(highSpeedHalfOf("001/002"), "1-1");
    fs::remove(port("usb1", 1) / "peer");
    EXPECT_EQ(highSpeedHalfOf("001/002"), "1-1");
    EXPECT_EQ(highSpeedHalfOf("001/003"), "");
}

}  // namespace
}  // namespace velmora
