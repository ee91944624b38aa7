#include <gtest/gtest.h>

#include "app/SupportedDeviceTable.h"
#include "detection/HubDetection.h"
#include "device/HubConnection.h"

namespace velmora {
namespace {

// A bus with at most one device whose answers the test chooses.
class FakePlatform final : public UsbPlatform {
public:
    std::vector<UsbDeviceInfo> devices;
    IOReturn openStatus = kIOReturnSuccess;
    IOReturn statusReadResult = kIOReturnSuccess;
    std::uint8_t versionHigh = 0x01;
    std::uint8_t versionLow = 0x02;
    int openDevices = 0;

    IOReturn claimStatus = kIOReturnSuccess;  // kIOReturnExclusiveAccess: another run holds the port
    std::vector<HeldPortLock> held;           // the ports another run holds

    std::vector<UsbDeviceInfo> listDevices() override { return devices; }
    ClaimResult claimPort(const std::string& portPath) override {
        if (claimStatus != kIOReturnSuccess) return {nullptr, claimStatus, {}};
        return UsbPlatform::claimPort(portPath);
    }
    std::vector<HeldPortLock> portsHeldElsewhere() override { return held; }
    OpenResult openDevice(const UsbDeviceInfo&) override {
        if (openStatus != kIOReturnSuccess) {
            return {nullptr, openStatus};
        }
        return {std::make_unique<Device>(*this), kIOReturnSuccess};
    }
    bool setHotplugCallback(HotplugCallback) override { return false; }
    void pollEvents(std::chrono::milliseconds) override {}

private:
    class Device final : public UsbDevice {
    public:
        explicit Device(FakePlatform& platform) : platform_(platform) { ++platform_.openDevices; }
        ~Device() override { --platform_.openDevices; }
        IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data, Milliseconds) override {
            if (setup.bRequest != 0x09) {
                return kIOReturnSuccess;
            }
            if (platform_.statusReadResult == kIOReturnSuccess) {
                data[10] = platform_.versionHigh;
                data[11] = platform_.versionLow;
            }
            return platform_.statusReadResult;
        }

    private:
        FakePlatform& platform_;
    };
};

class HubDetectionTest : public ::testing::Test {
protected:
    HubDetectionTest() { table_.set(0, 0x2FE3, 0x0611, 0x0610); }
    HubInfo detect() {
        HubConnection connection(platform_, table_, clock_);
        HubInfo info = DetectHub(connection);
        EXPECT_FALSE(connection.isOpen());
        EXPECT_EQ(platform_.openDevices, 0);
        return info;
    }

    SupportedDeviceTable table_;
    VirtualClock clock_;
    FakePlatform platform_;
};

TEST_F(HubDetectionTest, NoSupportedHubIsReportedInRed) {
    platform_.devices = {{0x046D, 0xC077, "1-2", "001/002"}};  // a mouse
    const HubInfo info = detect();
    EXPECT_EQ(info.text, "Detect Zelo Hub: Fail\nPlease Insert Zelo Hub Device");
    EXPECT_EQ(info.colour, TextColour::Red);
}

TEST_F(HubDetectionTest, VersionIsShownInLowerCaseHex) {
    platform_.devices = {{0x2FE3, 0x0610, "1-4", "001/005"}};
    platform_.versionHigh = 0xAB;
    platform_.versionLow = 0x0C;
    const HubInfo info = detect();
    EXPECT_EQ(info.text, "Detect Zelo Hub : Success\nfwVer:ab0c");
    EXPECT_EQ(info.colour, TextColour::Blue);
}

TEST_F(HubDetectionTest, HubThatCannotBeOpenedShowsFfff) {
    platform_.devices = {{0x2FE3, 0x0611, "1-4", "001/005"}};
    platform_.openStatus = kIOReturnExclusiveAccess;
    EXPECT_EQ(detect().text, "Detect Zelo Hub : Success\nfwVer:ffff");
}

// Another run of this program holds the hub's port: the hub is there and busy,
// which is not a hub that will not open (that one keeps its ffff above); and it is
// busy too while it is off the bus, restarting under that run, never a hub to plug in.
TEST_F(HubDetectionTest, HubAnotherRunHoldsIsBusyOnTheBusAndOffIt) {
    for (const bool onTheBus : {true, false}) {
        SCOPED_TRACE(onTheBus ? "on the bus" : "off it, resetting");
        platform_.devices.clear();
        if (onTheBus) platform_.devices = {{0x2FE3, 0x0611, "1-4", "001/005"}};
        platform_.claimStatus = kIOReturnExclusiveAccess;
        platform_.held = {{"1-4", {}}};
        const HubInfo info = detect();
        EXPECT_EQ(info.text,
                  "Detect Zelo Hub : Success\nZelo Hub is busy: another update program is using it");
        EXPECT_EQ(info.colour, TextColour::Blue);
        EXPECT_EQ(platform_.openDevices, 0);
    }
}

TEST_F(HubDetectionTest, HubThatDoesNotAnswerNeedsTheDriver) {
    platform_.devices = {{0x2FE3, 0x0611, "1-4", "001/005"}};
    platform_.statusReadResult = kIOUSBPipeStalled;
    const HubInfo info = detect();
    EXPECT_EQ(info.text, "Detect Zelo Hub : Success\n-need load driver");
    EXPECT_EQ(info.colour, TextColour::Blue);
}

}  // namespace
}  // namespace velmora
