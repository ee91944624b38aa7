// A reset makes the hub leave the bus and come back as a new device: the flash
// operations must find it again through libusb, in the code they asked for.
#include "EmulatedHubFixture.h"
#include "device/FlashOperations.h"
#include "device/PortLock.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"

namespace velmora::usbfs::testing {
namespace {

using Wire = std::array<std::uint8_t, 8>;
constexpr Wire kHandshake = {0x40, 0x02, 0x01, 0x00, 0x7A, 0x2E, 0x00, 0x00};
constexpr Wire kReadStatus = {0xC0, 0x09, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00};
constexpr Wire kResetToRom = {0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Wire kResetToFlash = {0x40, 0xE9, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00};

class ReenumerationTest : public EmulatedHubTest {
protected:
    void SetUp() override {
        hub_ = &addHub(1);
        startLibusb();
        keyBefore_ = platform_->listDevices().at(0).platformKey;
        virtualClock_.clearSleeps();
    }
    std::string currentKey() {
        const std::vector<UsbDeviceInfo> devices = platform_->listDevices();
        return devices.empty() ? std::string() : devices[0].platformKey;
    }
    bool portIsFree() {
        PortLock lock;
        return lock.acquire(testPortPath(1)) == kIOReturnSuccess;
    }

    sim::SimulatedHub* hub_ = nullptr;
    std::string keyBefore_;
};

TEST_F(ReenumerationTest, OpenRomDeviceResetsAFlashCodeHubAndReopensItAsANewDevice) {
    ASSERT_TRUE(FL_OpenRomDevice(*connection_));
    EXPECT_TRUE(connection_->isOpen());
    EXPECT_EQ(hub_->runState(), sim::RunState::RomCode);
    EXPECT_EQ(
        velmora::testing::SimulatedHubs::wireOf(*hub_),
        (std::vector<Wire>{kHandshake, kReadStatus, kReadStatus, kResetToRom, kHandshake, kReadStatus}));
    EXPECT_EQ(virtualClock_.sleeps(), std::vector<Milliseconds>{flash::kReopenPollInterval});
    EXPECT_EQ(testbed_->removals(), 2);  // both halves of the hub in its flash code
    EXPECT_NE(currentKey(), keyBefore_);
    // The handshake after the reset reached the new enumeration, not the old one.
    EXPECT_EQ(hub_->requests().at(4).answer.outcome, sim::Outcome::Completed);
}

TEST_F(ReenumerationTest, WaitSelectorOnePollsEverySecondUntilTheHubIsBack) {
    hub_->setWaitSelector(1);
    ASSERT_TRUE(FL_OpenRomDevice(*connection_));
    // The hub needs 1.5 s: the first poll finds nothing, the second finds it.
    EXPECT_EQ(virtualClock_.sleeps(), (std::vector<Milliseconds>(2, flash::kFastReopenPollInterval)));
    EXPECT_TRUE(VC_IsRomMode(*connection_));
}

TEST_F(ReenumerationTest, HubAlreadyInRomCodeIsOpenedWithoutAReset) {
    hub_->setRunState(sim::RunState::RomCode);
    ASSERT_TRUE(FL_OpenRomDevice(*connection_));
    EXPECT_EQ(velmora::testing::SimulatedHubs::wireOf(*hub_), (std::vector<Wire>{kHandshake, kReadStatus}));
    EXPECT_TRUE(virtualClock_.sleeps().empty());
    EXPECT_EQ(testbed_->removals(), 0);
}

TEST_F(ReenumerationTest, HubThatComesBackInItsFlashCodeFailsAndLeavesNothingOpen) {
    sim::HubFaults faults;
    faults.returnsInWrongCode = true;
    hub_->setFaults(faults);
    EXPECT_FALSE(FL_OpenRomDevice(*connection_));
    EXPECT_FALSE(connection_->isOpen());
    EXPECT_TRUE(portIsFree());
}

TEST_F(ReenumerationTest, HubThatNeverComesBackFailsAfterTwentyPolls) {
    hub_->setRunState(sim::RunState::RomCode);
    sim::HubFaults faults;
    faults.neverReturnsAfterReset = true;
    hub_->setFaults(faults);
    ASSERT_TRUE(USB_OpenHub(*connection_));
    EXPECT_FALSE(FL_ResetAndWait(flash::kResetToFlashCode, *connection_));
    EXPECT_FALSE(connection_->isOpen());
    EXPECT_EQ(virtualClock_.sleeps(),
              (std::vector<Milliseconds>(flash::kReopenPolls, flash::kReopenPollInterval)));
    EXPECT_TRUE(platform_->listDevices().empty());
    EXPECT_TRUE(portIsFree());
}

TEST_F(ReenumerationTest, ResetToFlashCodeBootsTheImageAndReopens) {
    hub_->setRunState(sim::RunState::RomCode);
    ASSERT_TRUE(USB_OpenHub(*connection_));
    ASSERT_TRUE(FL_ResetAndWait(flash::kResetToFlashCode, *connection_));
    EXPECT_EQ(velmora::testing::SimulatedHubs::wireOf(*hub_),
              (std::vector<Wire>{kHandshake, kResetToFlash, kHandshake}));
    EXPECT_EQ(VC_GetFwVersion(*connection_), kImageVersion);
    EXPECT_FALSE(VC_IsRomMode(*connection_));
}

// A handle kept across the hub's departure: every request on it fails with "no
// device" and closing it is clean; the hub is reached again only by a new open.
TEST_F(ReenumerationTest, AStaleHandleFailsEveryRequestAndClosesCleanly) {
    ASSERT_TRUE(USB_OpenHub(*connection_));
    ASSERT_EQ(VC_ResetToRomCode(*connection_), kIOReturnSuccess);
    testbed_->sync();
    EXPECT_EQ(VC_GetFwVersion(*connection_), 0);
    EXPECT_EQ(VC_EraseFlash(0, *connection_), kIOReturnNoDevice);
    clock_->sleepFor(kTestRebootTime);  // back on the bus under a new number
    EXPECT_EQ(VC_EraseFlash(0, *connection_), kIOReturnNoDevice);
    EXPECT_FALSE(portIsFree());
    USB_CloseHub(*connection_);
    EXPECT_TRUE(portIsFree());
    ASSERT_TRUE(USB_OpenHub(*connection_));
    EXPECT_TRUE(VC_IsRomMode(*connection_));
}

// Two hubs: the one reset is away for a poll while the other, in ROM code and
// ready to be written, is listed. The reopen waits for the hub that was reset.
class TwoHubReenumerationTest : public EmulatedHubTest {};

TEST_F(TwoHubReenumerationTest, TheReopenReachesTheHubThatWasResetNotTheOtherOne) {
    sim::SimulatedHub& reset = addHub(1);
    reset.setWaitSelector(1);  // 1 s polls: the first comes before the hub is back
    sim::SimulatedHub& other = addHub(2);
    other.setRunState(sim::RunState::RomCode);
    startLibusb();

    ASSERT_TRUE(connection_->openHubAt(testPortPath(1)));
    other.clearRequests();

    ASSERT_TRUE(FL_ResetAndWait(flash::kResetToRomCode, *connection_));

    EXPECT_EQ(connection_->openPortPath(), testPortPath(1));
    EXPECT_EQ(reset.runState(), sim::RunState::RomCode);
    EXPECT_TRUE(other.requests().empty());
    EXPECT_EQ(virtualClock_.sleeps(), (std::vector<Milliseconds>(2, flash::kFastReopenPollInterval)));
}

}  // namespace
}  // namespace velmora::usbfs::testing
