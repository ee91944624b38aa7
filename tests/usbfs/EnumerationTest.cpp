// Finding, opening and closing the hub through libusb over the emulated usbfs.
#include <algorithm>

#include "EmulatedHubFixture.h"
#include "device/PortLock.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"
#include "device/simulated/SimulatedBus.h"

namespace velmora::usbfs::testing {
namespace {

using Wire = std::array<std::uint8_t, 8>;
constexpr Wire kHandshake = {0x40, 0x02, 0x01, 0x00, 0x7A, 0x2E, 0x00, 0x00};

class EnumerationTest : public EmulatedHubTest {};

TEST_F(EnumerationTest, ListsTheHubWithItsIdsPortAndDeviceNumber) {
    addMouse(3);
    addHub(1);
    startLibusb();

    const std::vector<UsbDeviceInfo> devices = platform_->listDevices();
    ASSERT_EQ(devices.size(), 2u);
    const auto hub = std::find_if(devices.begin(), devices.end(), [](const UsbDeviceInfo& device) {
        return device.portPath == testPortPath(1);
    });
    ASSERT_NE(hub, devices.end());
    EXPECT_EQ(hub->vendorId, kHubVendorId);
    EXPECT_EQ(hub->productId, kSuperSpeedProductId);
    EXPECT_EQ(hub->platformKey.substr(4), "002");  // the mouse was numbered first
}

// A hub in its flash code is two devices, its halves on a port and the port's
// peer: libusb lists both, the platform one hub by the kernel's port links, and a
// lock on either half's port, this process's or another's, keeps a run off both.
TEST_F(EnumerationTest, TheTwoHalvesOfAHubAreOneHubListedAndLocked) {
    addHub(1);
    startLibusb();
    const std::string port = testPortPath(1);
    const std::string peer = sim::peerPortOf(port);
    const std::vector<UsbDeviceInfo> devices = platform_->listDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].portPath, port);
    EXPECT_EQ(devices[0].highSpeedHalfPortPath, peer);
    for (const auto& [first, second] : {std::pair{port, peer}, std::pair{peer, port}}) {
        SCOPED_TRACE(first);
        HubConnection one(*platform_, table_, *clock_, first);
        HubConnection other(*platform_, table_, *clock_, second);
        ASSERT_TRUE(USB_OpenHub(one));
        EXPECT_FALSE(USB_OpenHub(other));
        EXPECT_TRUE(other.refusedAsBusy());
        USB_CloseHub(one);
        PortLock elsewhere;  // another run's lock on this half's port
        ASSERT_EQ(elsewhere.acquire(first), kIOReturnSuccess);
        EXPECT_FALSE(USB_OpenHub(other));
        elsewhere.release();
        EXPECT_TRUE(USB_OpenHub(other));
    }
}

// The table lists both product IDs of a hub: either part is recognised.
class ProductIdTest : public EmulatedHubTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ProductIdTest, HubIsRecognisedByEitherProductId) {
    addHub(1, GetParam());
    startLibusb();
    const std::vector<UsbDeviceInfo> devices = platform_->listDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].productId, GetParam() ? kSuperSpeedProductId : kHighSpeedProductId);
    EXPECT_TRUE(USB_IsHubPresent(*connection_));
    EXPECT_TRUE(USB_OpenHub(*connection_));
}

INSTANTIATE_TEST_SUITE_P(BothSpeeds, ProductIdTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SuperSpeed" : "HighSpeed"; });

TEST_F(EnumerationTest, PresenceTestOpensAndSendsNothing) {
    sim::SimulatedHub& hub = addHub(1);
    startLibusb();
    EXPECT_TRUE(USB_IsHubPresent(*connection_));
    EXPECT_FALSE(connection_->isOpen());
    EXPECT_TRUE(hub.requests().empty());
    // Nothing holds the port: another process could open the hub now.
    PortLock lock;
    EXPECT_EQ(lock.acquire(testPortPath(1)), kIOReturnSuccess);
}

TEST_F(EnumerationTest, OnlyUnsupportedDevicesMeansNoHub) {
    addMouse(3);
    startLibusb();
    EXPECT_FALSE(USB_IsHubPresent(*connection_));
    EXPECT_FALSE(USB_OpenHub(*connection_));
    EXPECT_FALSE(connection_->isOpen());
}

TEST_F(EnumerationTest, OpenSendsExactlyTheHandshake) {
    sim::SimulatedHub& hub = addHub(1);
    startLibusb();
    ASSERT_TRUE(USB_OpenHub(*connection_));
    EXPECT_EQ(velmora::testing::SimulatedHubs::wireOf(hub), std::vector<Wire>{kHandshake});
    EXPECT_EQ(hub.requests().at(0).answer.outcome, sim::Outcome::Completed);
}

TEST_F(EnumerationTest, OpenSucceedsWhenTheHubStallsTheHandshake) {
    sim::SimulatedHub& hub = addHub(1);
    hub.setFaults(failing(sim::RequestKind::OpenHandshake, 1, sim::Outcome::Stalled));
    startLibusb();
    ASSERT_TRUE(USB_OpenHub(*connection_));
    ASSERT_EQ(hub.requests().size(), 1u);
    EXPECT_EQ(hub.requests()[0].answer.outcome, sim::Outcome::Stalled);
    // The stall did not take the connection down.
    EXPECT_EQ(VC_GetFwVersion(*connection_), kImageVersion);
}

TEST_F(EnumerationTest, OpenHoldsThePortUntilClosed) {
    addHub(1);
    startLibusb();
    ASSERT_TRUE(USB_OpenHub(*connection_));
    PortLock lock;
    EXPECT_EQ(lock.acquire(testPortPath(1)), kIOReturnExclusiveAccess);

    // A second connection in the same process is refused too.
    HubConnection second(*platform_, table_, *clock_);
    EXPECT_FALSE(USB_OpenHub(second));

    USB_CloseHub(*connection_);
    USB_CloseHub(*connection_);  // the second close does nothing
    EXPECT_FALSE(connection_->isOpen());
    EXPECT_EQ(lock.acquire(testPortPath(1)), kIOReturnSuccess);
}

TEST_F(EnumerationTest, RequestsWithNothingOpenSendNothing) {
    sim::SimulatedHub& hub = addHub(1);
    startLibusb();
    std::uint8_t block[vendor::kStatusBlockLength] = {};
    EXPECT_EQ(VC_ReadStatus(block, sizeof block, *connection_), kIOReturnNotFound);
    EXPECT_EQ(VC_EraseFlash(0, *connection_), kIOReturnNotFound);
    EXPECT_EQ(VC_GetFwVersion(*connection_), 0);
    EXPECT_TRUE(hub.requests().empty());
}

class TwoHubsTest : public EmulatedHubTest {
protected:
    void SetUp() override {
        first_ = &addHub(1);
        second_ = &addHub(2, true, kSecondSuperSpeedProductId, kSecondHighSpeedProductId);
        startLibusb();
    }
    // The hub libusb lists first, whichever port that is.
    sim::SimulatedHub& listedFirst() {
        const std::string port = platform_->listDevices().at(0).portPath;
        return port == first_->config().portPath ? *first_ : *second_;
    }
    sim::SimulatedHub& listedSecond() { return &listedFirst() == first_ ? *second_ : *first_; }

    sim::SimulatedHub* first_ = nullptr;
    sim::SimulatedHub* second_ = nullptr;
};

TEST_F(TwoHubsTest, TheFirstListedHubIsOpened) {
    ASSERT_EQ(platform_->listDevices().size(), 2u);
    ASSERT_TRUE(USB_OpenHub(*connection_));
    EXPECT_EQ(velmora::testing::SimulatedHubs::wireOf(listedFirst()), std::vector<Wire>{kHandshake});
    EXPECT_TRUE(listedSecond().requests().empty());
}

TEST_F(TwoHubsTest, ABusyFirstHubFailsTheOpenEvenThoughTheOtherIsFree) {
    PortLock heldElsewhere;
    ASSERT_EQ(heldElsewhere.acquire(listedFirst().config().portPath), kIOReturnSuccess);
    EXPECT_FALSE(USB_OpenHub(*connection_));
    EXPECT_FALSE(connection_->isOpen());
    EXPECT_TRUE(first_->requests().empty());
    EXPECT_TRUE(second_->requests().empty());
}

}  // namespace
}  // namespace velmora::usbfs::testing
