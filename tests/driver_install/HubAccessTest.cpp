// What doctor reads of the machine, against a fake tree laid out the way the
// kernel, udev and the load script leave it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "driver_install/HubAccess.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::driver {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kVendor = 0x2FE3;
constexpr std::uint16_t kProduct = 0x0611;
constexpr uid_t kNobody = 65534;

class HubAccessTest : public ::testing::Test {
protected:
    void write(const fs::path& relative, const std::string& text) {
        fs::create_directories((root() / relative).parent_path());
        std::ofstream(root() / relative) << text;
    }
    // sysfs's "driver" link of a device or interface folder.
    void bind(const std::string& sysfsName, const std::string& driverName) {
        const fs::path device = root() / "sys/bus/usb/devices" / sysfsName;
        fs::create_directories(device);
        fs::create_directories(root() / "sys/bus/usb/drivers" / driverName);
        fs::create_directory_symlink("../../../bus/usb/drivers/" + driverName, device / "driver");
    }
    const fs::path& root() const { return scratch_.path(); }

    velmora::testing::ScratchFolder scratch_{"velmora-hub-access"};
};

// The rule file as the load script writes it.
constexpr const char* kRuleLines =
    "# Written by Velmora's driver load: the logged-in user may open these hubs, which never autosuspend.\n"
    "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"2fe3\", ATTR{idProduct}==\"0610\", "
    "TAG+=\"uaccess\", ATTR{power/control}=\"on\"\n"
    "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"2fe3\", ATTR{idProduct}==\"0611\", "
    "TAG+=\"uaccess\", ATTR{power/control}=\"on\"\n";

TEST_F(HubAccessTest, AccessRuleIsFoundForItsHubsOnly) {
    EXPECT_EQ(accessRuleFor(kVendor, kProduct, root()), AccessRule::Missing);
    write(kAccessRuleFile, kRuleLines);
    EXPECT_EQ(accessRuleFor(kVendor, kProduct, root()), AccessRule::ListsHub);
    EXPECT_EQ(accessRuleFor(kVendor, 0x0621, root()), AccessRule::OtherHubs);
    // The VID of one line with the PID of another is not this hub.
    EXPECT_EQ(accessRuleFor(0x0610, kProduct, root()), AccessRule::OtherHubs);
}

TEST_F(HubAccessTest, TheDriverHoldingTheHubIsToldByDeviceAndInterface) {
    EXPECT_EQ(hubDriverOf("1-4", root()).kind, HubDriverKind::None);
    // Configured and driven by the hub driver: the device has the generic driver,
    // its first interface the hub driver.
    bind("1-4", "usb");
    bind("1-4:1.0", "hub");
    EXPECT_EQ(hubDriverOf("1-4", root()).kind, HubDriverKind::HubDriver);
    // Brennic binds to the device and leaves it unconfigured.
    bind("2-1.3", "brennic");
    EXPECT_EQ(hubDriverOf("2-1.3", root()).kind, HubDriverKind::Brennic);
    bind("1-5", "usb");
    bind("1-5:1.0", "usbfs");
    const HubDriver other = hubDriverOf("1-5", root());
    EXPECT_EQ(other.kind, HubDriverKind::Other);
    EXPECT_EQ(other.name, "usbfs");
    // Only port paths as the bus names them are looked up.
    EXPECT_EQ(hubDriverOf("../../../sys/bus/usb/devices/1-4", root()).kind, HubDriverKind::None);
}

TEST_F(HubAccessTest, LoadedModuleIdsAndWhetherTheyListTheHub) {
    EXPECT_FALSE(loadedModuleIds(root()));
    fs::create_directories(root() / "sys/module/brennic/parameters");
    EXPECT_EQ(loadedModuleIds(root()), std::string{});
    write("sys/module/brennic/parameters/ids", "2fe3:0611,2fe3:0610\n");
    ASSERT_EQ(loadedModuleIds(root()), std::string("2fe3:0611,2fe3:0610"));

    EXPECT_TRUE(moduleIdsList("2fe3:0611,2fe3:0610", kVendor, kProduct));
    EXPECT_TRUE(moduleIdsList("2FE3:0610, 2FE3:0611", kVendor, kProduct));
    EXPECT_FALSE(moduleIdsList("2fe3:06110,2fe3:0610", kVendor, kProduct));
    EXPECT_FALSE(moduleIdsList("", kVendor, kProduct));
}

TEST(DeviceNodePath, OnlyBusAndDeviceNumbersMakeANode) {
    EXPECT_EQ(deviceNodePath("001/005"), fs::path("dev/bus/usb/001/005"));
    for (const char* key : {"sim:1-1", "001/../../etc", "/005", "001/", ""}) {
        EXPECT_TRUE(deviceNodePath(key).empty()) << key;
    }
}

// Root may open any node, so the refusal is seen from a user with no rights to it.
TEST_F(HubAccessTest, ANodeThisUserCannotOpenIsToldFromAMissingOne) {
    if (!velmora::testing::runningAsRoot()) GTEST_SKIP() << "needs root to act as another user";
    const fs::path closed = root() / "005";
    const fs::path open = root() / "006";
    write("005", "");
    write("006", "");
    ::chmod(closed.c_str(), 0600);
    ::chmod(open.c_str(), 0666);
    ::chmod(root().c_str(), 0755);
    const auto end = velmora::testing::runInChild([&] {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 10;
        if (nodeAccess(closed) != NodeAccess::NotPermitted) return 11;
        if (nodeAccess(open) != NodeAccess::Usable) return 12;
        if (nodeAccess(root() / "007") != NodeAccess::Missing) return 13;
        return 0;
    });
    EXPECT_EQ(end.exitStatus, 0);
}

}  // namespace
}  // namespace velmora::driver
