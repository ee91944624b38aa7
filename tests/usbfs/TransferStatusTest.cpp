// How a transfer ends, carried through the emulated usbfs and libusb: a stall,
// a timeout (the URB is discarded), a hub that drops off in the middle.
#include "EmulatedHubFixture.h"
#include "device/FlashOperations.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"

namespace velmora::usbfs::testing {
namespace {

class TransferStatusTest : public EmulatedHubTest {
protected:
    void SetUp() override {
        hub_ = &addHub(1);
        hub_->setRunState(sim::RunState::RomCode);
        startLibusb();
        ASSERT_TRUE(USB_OpenHub(*connection_));
        hub_->clearRequests();
    }
    sim::SimulatedHub* hub_ = nullptr;
};

TEST_F(TransferStatusTest, AStallComesBackAsPipeStalledAndTheConnectionStaysUsable) {
    hub_->setFaults(failing(sim::RequestKind::EraseFlash, 1, sim::Outcome::Stalled));
    EXPECT_EQ(VC_EraseFlash(0, *connection_), kIOUSBPipeStalled);
    EXPECT_TRUE(connection_->isOpen());
    EXPECT_EQ(VC_EraseFlash(0, *connection_), kIOReturnSuccess);
}

TEST_F(TransferStatusTest, AStalledReadLeavesNoStaleDataBehind) {
    hub_->setFaults(failing(sim::RequestKind::ReadStatus, 1, sim::Outcome::Stalled));
    EXPECT_EQ(VC_GetFwVersion(*connection_), 0);
    hub_->setFaults(failing(sim::RequestKind::ReadStatus, 1, sim::Outcome::Stalled));
    EXPECT_FALSE(VC_IsRomMode(*connection_));  // a failed read is never taken for ROM code
    EXPECT_EQ(VC_GetFwVersion(*connection_), sim::kDefaultRomVersion);
}

// libusb gives up after the connection's timeout and discards the URB; the
// status must say so, and the next request must not pick up the stale URB.
TEST_F(TransferStatusTest, ATimedOutTransferIsDiscardedAndReportedAsTimeout) {
    hub_->setFaults(failing(sim::RequestKind::ReadStatus, 1, sim::Outcome::TimedOut));
    // libusb's own timer runs in real time: a short limit keeps the wait short.
    connection_->setControlTimeout(Milliseconds{100});
    std::array<std::uint8_t, vendor::kStatusBlockLength> block{};
    EXPECT_EQ(VC_ReadStatus(block.data(), vendor::kStatusBlockLength, *connection_), kIOReturnTimeout);
    EXPECT_EQ(testbed_->discardedUrbs(), 1);
    EXPECT_EQ(VC_GetFwVersion(*connection_), sim::kDefaultRomVersion);
}

// The usbfs URB completes with fewer bytes than asked: libusb reports the count,
// and the platform turns it into a failure of its own instead of success.
TEST_F(TransferStatusTest, AShortAnswerIsAnUnderrunNotSuccess) {
    sim::HubFaults faults;
    faults.shortAnswers = {{sim::RequestKind::ReadFlash, 1}, {sim::RequestKind::ReadStatus, 1}};
    hub_->setFaults(faults);
    std::vector<std::uint8_t> bytes(4096, 0);
    EXPECT_EQ(VC_ReadFlash(0, bytes.data(), 4096, *connection_), kIOReturnUnderrun);
    EXPECT_EQ(VC_GetFwVersion(*connection_), 0);
    EXPECT_TRUE(connection_->isOpen());
    EXPECT_EQ(VC_ReadFlash(0, bytes.data(), 4096, *connection_), kIOReturnSuccess);
    EXPECT_EQ(VC_GetFwVersion(*connection_), sim::kDefaultRomVersion);
}

TEST_F(TransferStatusTest, EraseRetriesAfterStallsAndPausesAfterEveryAttempt) {
    hub_->setFaults(failing(sim::RequestKind::EraseFlash, 2, sim::Outcome::Stalled));
    virtualClock_.clearSleeps();
    EXPECT_TRUE(FL_EraseFlash(*connection_));
    EXPECT_EQ(hub_->requests().size(), 3u);
    EXPECT_EQ(virtualClock_.sleeps(), (std::vector<Milliseconds>(3, flash::kPauseAfterErase)));
    EXPECT_TRUE(connection_->isOpen());
}

TEST_F(TransferStatusTest, ThreeStalledErasesFail) {
    hub_->setFaults(failing(sim::RequestKind::EraseFlash, 3, sim::Outcome::Stalled));
    EXPECT_FALSE(FL_EraseFlash(*connection_));
    EXPECT_EQ(hub_->requests().size(), 3u);
    EXPECT_TRUE(connection_->isOpen());
}

// The hub drops off the bus while it handles a write: the request fails with
// "no device" (not success, not a hang), the stale handle closes cleanly, and the
// hub that powers up again is found as a new device.
TEST_F(TransferStatusTest, AHubThatDropsOffMidTransferFailsTheRequestAndComesBackAsNewDevice) {
    sim::HubFaults faults;
    faults.disconnect = sim::DisconnectFault{sim::RequestKind::WriteFlash, 1, true};
    hub_->setFaults(faults);
    const std::string keyBefore = platform_->listDevices().at(0).platformKey;

    std::vector<std::uint8_t> bytes(64, 0x5A);
    EXPECT_EQ(VC_WriteFlash(0, bytes.data(), 64, *connection_), kIOReturnNoDevice);
    testbed_->sync();  // the bus shows the hub gone
    EXPECT_TRUE(platform_->listDevices().empty());
    EXPECT_NE(VC_GetFwVersion(*connection_), kImageVersion);
    EXPECT_EQ(VC_ReadFlash(0, bytes.data(), 64, *connection_), kIOReturnNoDevice);
    USB_CloseHub(*connection_);

    clock_->sleepFor(kTestRebootTime);
    const std::vector<UsbDeviceInfo> devices = platform_->listDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_NE(devices[0].platformKey, keyBefore);
    ASSERT_TRUE(USB_OpenHub(*connection_));
    EXPECT_NE(VC_GetFwVersion(*connection_), 0);
}

}  // namespace
}  // namespace velmora::usbfs::testing
