// Finding, opening and closing the hub, and the request path over the connection.
#include <algorithm>

#include "device/UsbConnection.h"
#include "device/VendorCommands.h"
#include "tests/device/DeviceTestRig.h"

namespace velmora::devicetest {
namespace {

class HubConnectionTest : public SimulatedRig {};

TEST_F(HubConnectionTest, NoDeviceOrOnlyUnsupportedOnesFindsNothing) {
    EXPECT_FALSE(USB_IsHubPresent(connection));
    EXPECT_FALSE(USB_OpenHub(connection));
    bus.addPlainDevice(0x046D, 0xC077, "1-3");         // a mouse
    bus.addPlainDevice(kVendorId, 0x9999, "1-4");      // the maker's other product
    bus.addPlainDevice(0x9999, kSuperSpeedId, "1-5");  // another maker's PID clash
    EXPECT_FALSE(USB_IsHubPresent(connection));
    EXPECT_FALSE(USB_OpenHub(connection));
    EXPECT_FALSE(connection.isOpen());
}

TEST_F(HubConnectionTest, RecognisesEitherProductIdOfTheEntry) {
    for (bool superSpeed : {true, false}) {
        SCOPED_TRACE(superSpeed);
        sim::SimulatedBus ownBus(clock);
        sim::SimulatedUsbPlatform ownPlatform(ownBus);
        HubConnection own(ownPlatform, table, clock);
        sim::SimulatedHubConfig config{kVendorId, kSuperSpeedId, kHighSpeedId, superSpeed};
        ownBus.addHub(config);
        EXPECT_TRUE(USB_IsHubPresent(own));
        EXPECT_TRUE(USB_OpenHub(own));
    }
}

TEST_F(HubConnectionTest, OpenSendsTheHandshakeExactlyOnce) {
    sim::SimulatedHub& hub = addHub();
    bus.addPlainDevice(0x046D, 0xC077, "1-3");
    ASSERT_TRUE(USB_OpenHub(connection));
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(wireOf(hub), std::vector<Wire>{kHandshake});
}

TEST_F(HubConnectionTest, OpenSucceedsWhenTheHandshakeStalls) {
    sim::SimulatedHub& hub = addHub();
    failNext(hub, sim::RequestKind::OpenHandshake, 1);
    EXPECT_TRUE(USB_OpenHub(connection));
    ASSERT_EQ(hub.requests().size(), 1u);
    EXPECT_EQ(hub.requests()[0].answer.outcome, sim::Outcome::Stalled);
}

// A listing can show a hub whose node is already gone (it is resetting): its
// handshake finds no device, and such an open has failed. Every other answer of
// the handshake is ignored, as before.
TEST_F(HubConnectionTest, AnOpenWhoseHandshakeFindsNoDeviceHasFailed) {
    struct Case {
        sim::Outcome handshake;
        bool opened;
    };
    for (const Case& c : {Case{sim::Outcome::Stalled, true}, Case{sim::Outcome::TimedOut, true},
                          Case{sim::Outcome::NoDevice, false}}) {
        SCOPED_TRACE(static_cast<int>(c.handshake));
        sim::SimulatedBus ownBus(clock);
        sim::SimulatedUsbPlatform ownPlatform(ownBus);
        HubConnection own(ownPlatform, table, clock);
        sim::SimulatedHub& hub = ownBus.addHub({kVendorId, kSuperSpeedId, kHighSpeedId});
        failNext(hub, sim::RequestKind::OpenHandshake, 1, c.handshake);
        EXPECT_EQ(USB_OpenHub(own), c.opened);
        EXPECT_EQ(own.isOpen(), c.opened);
        EXPECT_EQ(ownBus.isPortClaimed("1-1"), c.opened);
        EXPECT_EQ(hub.requests().size(), 1u);
    }
}

TEST_F(HubConnectionTest, FirstListedHubIsOpened) {
    sim::SimulatedHub& first = addHub(true, "1-1");
    sim::SimulatedHub& second = addHub(true, "1-2");
    ASSERT_TRUE(USB_OpenHub(connection));
    EXPECT_EQ(first.requests().size(), 1u);
    EXPECT_TRUE(second.requests().empty());
}

TEST_F(HubConnectionTest, BusyFirstHubFailsTheOpenThoughTheSecondIsFree) {
    sim::SimulatedHub& first = addHub(true, "1-1");
    sim::SimulatedHub& second = addHub(true, "1-2");
    sim::HubFaults held;
    held.heldByAnotherDriver = true;
    first.setFaults(held);
    EXPECT_TRUE(USB_IsHubPresent(connection));
    EXPECT_FALSE(USB_OpenHub(connection));
    EXPECT_FALSE(connection.isOpen());
    EXPECT_TRUE(second.requests().empty());
    EXPECT_FALSE(bus.isPortClaimed("1-2"));
}

TEST_F(HubConnectionTest, PortPathPinsTheConnectionToOneHub) {
    addHub(true, "1-1");
    sim::SimulatedHub& second = addHub(true, "1-2");
    HubConnection pinned(platform, table, clock, std::string("1-2"));
    ASSERT_TRUE(USB_OpenHub(pinned));
    EXPECT_EQ(wireOf(second), std::vector<Wire>{kHandshake});
    HubConnection nowhere(platform, table, clock, std::string("2-7"));
    EXPECT_FALSE(USB_IsHubPresent(nowhere));
    EXPECT_FALSE(USB_OpenHub(nowhere));
}

// A USB 3 hub is two devices on the bus, its halves on a port and its peer; it is
// one hub: listed once, by its SuperSpeed half, reached by either half's port, and
// a claim on either half's port keeps every other run off both.
TEST_F(HubConnectionTest, OneHubsTwoHalvesAreListedOnceAndHeldAsOne) {
    addHub(true, "1-1");
    addHub(false, "1-2");  // ROM code: one device, no hub function
    std::vector<std::string> present;
    for (const sim::BusDevice& device : bus.presentDevices()) present.push_back(device.info.portPath);
    EXPECT_EQ(present, (std::vector<std::string>{"1-1", "128-1", "1-2"}));
    const std::vector<UsbDeviceInfo> listed = platform.listDevices();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].portPath, "1-1");
    EXPECT_EQ(listed[0].highSpeedHalfPortPath, "128-1");
    EXPECT_EQ(listed[1].highSpeedHalfPortPath, "");
    for (const auto& [first, second] : {std::pair{"1-1", "128-1"}, std::pair{"128-1", "1-1"}}) {
        SCOPED_TRACE(first);
        HubConnection one(platform, table, clock, std::string(first));
        HubConnection other(platform, table, clock, std::string(second));
        ASSERT_TRUE(USB_OpenHub(one));
        EXPECT_EQ(one.openPortPath(), "1-1");  // the SuperSpeed half gets the requests
        EXPECT_FALSE(USB_OpenHub(other));
        EXPECT_TRUE(other.refusedAsBusy());
        USB_CloseHub(one);
        EXPECT_TRUE(USB_OpenHub(other));
    }
}

TEST_F(HubConnectionTest, AHubIsDrivenByOneConnectionAtATime) {
    addHub();
    HubConnection other(platform, table, clock);
    ASSERT_TRUE(USB_OpenHub(connection));
    EXPECT_FALSE(USB_OpenHub(other));
    USB_CloseHub(connection);
    EXPECT_TRUE(USB_OpenHub(other));
}

// A workflow holds the hub's port from its first open to its end: the closes of
// its resets do not let another connection in, and the refusal says "busy" at once
// (a hub another driver holds is refused too, but is not busy in this sense).
TEST_F(HubConnectionTest, AHeldPortStaysClaimedAcrossClosesUntilTheHoldEnds) {
    addHub(true, "1-1");
    HubConnection other(platform, table, clock);
    {
        PortHold hold(connection);
        ASSERT_TRUE(USB_OpenHub(connection));
        EXPECT_EQ(connection.openPortPath(), "1-1");
        USB_CloseHub(connection);
        EXPECT_TRUE(bus.isPortClaimed("1-1"));
        EXPECT_FALSE(USB_OpenHub(other));
        EXPECT_TRUE(other.refusedAsBusy());
        EXPECT_TRUE(clock.sleeps().empty());   // refused without waiting
        ASSERT_TRUE(USB_OpenHub(connection));  // the holder itself opens again
    }
    EXPECT_TRUE(bus.isPortClaimed("1-1"));  // still open: the device keeps its port
    USB_CloseHub(connection);
    EXPECT_FALSE(bus.isPortClaimed("1-1"));
    EXPECT_TRUE(USB_OpenHub(other));
    EXPECT_FALSE(other.refusedAsBusy());
}

TEST_F(HubConnectionTest, AHubHeldByAnotherDriverIsNotReportedBusy) {
    sim::SimulatedHub& hub = addHub();
    sim::HubFaults held;
    held.heldByAnotherDriver = true;
    hub.setFaults(held);
    EXPECT_FALSE(USB_OpenHub(connection));
    EXPECT_FALSE(connection.refusedAsBusy());
    EXPECT_FALSE(bus.isPortClaimed("1-1"));
}

// While a hold has its port, the connection reaches no other hub, even one listed first.
TEST_F(HubConnectionTest, AHoldKeepsEveryOpenOnTheHeldPort) {
    addHub(true, "1-1");
    sim::SimulatedHub& second = addHub(true, "1-2");
    HubConnection pinned(platform, table, clock, std::string("1-2"));
    PortHold hold(pinned);
    ASSERT_TRUE(USB_OpenHub(pinned));
    EXPECT_FALSE(pinned.openHubAt("1-1"));
    ASSERT_TRUE(pinned.openHubAt("1-2"));
    EXPECT_EQ(wireOf(second), (std::vector<Wire>{kHandshake, kHandshake}));
}

// Fewer bytes than asked is a failure of its own, not success with a buffer
// that holds zeros where the hub's data never arrived.
TEST_F(HubConnectionTest, AShortAnswerIsAnUnderrun) {
    sim::SimulatedHub& hub = addHub(false);
    hub.loadFlashImage(std::vector<std::uint8_t>(64, 0x5A));  // no image: it stays in ROM code
    ASSERT_TRUE(USB_OpenHub(connection));
    sim::HubFaults faults;
    faults.shortAnswers = {{sim::RequestKind::ReadFlash, 1}, {sim::RequestKind::ReadStatus, 2}};
    hub.setFaults(faults);

    std::vector<std::uint8_t> buffer(64, 0);
    EXPECT_EQ(VC_ReadFlash(0, buffer.data(), 64, connection), kIOReturnUnderrun);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0x5A), 32);
    EXPECT_EQ(VC_GetFwVersion(connection), 0);  // a status block read in part is not read
    EXPECT_FALSE(VC_IsRomMode(connection));
    EXPECT_EQ(VC_ReadFlash(0, buffer.data(), 64, connection), kIOReturnSuccess);
    EXPECT_EQ(VC_GetFwVersion(connection), sim::kDefaultRomVersion);
    EXPECT_TRUE(connection.isOpen());
}

TEST_F(HubConnectionTest, CloseIsHarmlessWhenNothingIsOpen) {
    addHub();
    USB_CloseHub(connection);
    ASSERT_TRUE(USB_OpenHub(connection));
    USB_CloseHub(connection);
    USB_CloseHub(connection);
    EXPECT_FALSE(connection.isOpen());
    EXPECT_FALSE(bus.isPortClaimed("1-1"));
    EXPECT_EQ(VC_GetFwVersion(connection), 0);
}

TEST_F(HubConnectionTest, TransferFailuresComeBackUnchanged) {
    sim::SimulatedHub& hub = addHub(false);
    ASSERT_TRUE(USB_OpenHub(connection));
    std::uint8_t buffer[16];
    failNext(hub, sim::RequestKind::ReadFlash, 1, sim::Outcome::Stalled);
    failNext(hub, sim::RequestKind::EraseFlash, 1, sim::Outcome::TimedOut);
    EXPECT_EQ(VC_ReadFlash(0, buffer, sizeof buffer, connection), kIOUSBPipeStalled);
    EXPECT_EQ(VC_EraseFlash(0, connection), kIOReturnTimeout);
    EXPECT_TRUE(connection.isOpen());
}

TEST_F(HubConnectionTest, StaleConnectionAfterAResetAnswersNoDevice) {
    addHub();
    ASSERT_TRUE(USB_OpenHub(connection));
    ASSERT_EQ(VC_ResetToRomCode(connection), kIOReturnSuccess);
    EXPECT_EQ(VC_GetFwVersion(connection), 0);
    std::uint8_t status[32];
    EXPECT_EQ(VC_ReadStatus(status, 32, connection), kIOReturnNoDevice);
    clock.advance(Milliseconds{2000});
    // Back on the bus as a new device; the old handle stays dead.
    EXPECT_EQ(VC_ReadStatus(status, 32, connection), kIOReturnNoDevice);
    ASSERT_TRUE(USB_OpenHub(connection));
    EXPECT_EQ(VC_ReadStatus(status, 32, connection), kIOReturnSuccess);
}

TEST_F(HubConnectionTest, ListingFromBeforeAResetCannotBeOpened) {
    sim::SimulatedHub& hub = addHub();
    const UsbDeviceInfo listed = platform.listDevices().at(0);
    hub.handleControl(UsbSetup{0x40, 0x00, 0, 0, 0}, nullptr);
    EXPECT_EQ(platform.openDevice(listed).status, kIOReturnNoDevice);
    clock.advance(Milliseconds{1500});
    EXPECT_EQ(platform.openDevice(listed).status, kIOReturnNoDevice);
    EXPECT_EQ(platform.openDevice(platform.listDevices().at(0)).status, kIOReturnSuccess);
}

TEST_F(HubConnectionTest, ObserverSeesEveryRequestThatReachesTheHub) {
    sim::SimulatedHub& hub = addHub();
    std::vector<std::string> lines;
    connection.setRequestObserver(
        [&](const UsbSetup& setup, IOReturn status) { lines.push_back(formatTraceLine(setup, status)); });
    VC_EraseFlash(0, connection);  // nothing open: never reaches the platform
    ASSERT_TRUE(USB_OpenHub(connection));
    failNext(hub, sim::RequestKind::ReadStatus, 1);
    VC_GetFwVersion(connection);
    EXPECT_EQ(lines, (std::vector<std::string>{"ctrl 40 02 01 00 7A 2E 00 00 -> 0x00000000",
                                               "ctrl C0 09 00 00 00 00 20 00 -> 0xE000404F"}));
}

TEST_F(HubConnectionTest, HotplugReportsAResetAsLeavingAndArrivingUnderANewNumber) {
    addHub();
    std::vector<std::pair<UsbHotplugEvent, std::string>> events;
    ASSERT_TRUE(platform.setHotplugCallback([&](UsbHotplugEvent kind, const UsbDeviceInfo& device) {
        events.emplace_back(kind, device.platformKey);
    }));
    const std::string before = platform.listDevices().at(0).platformKey;
    ASSERT_TRUE(USB_OpenHub(connection));
    ASSERT_EQ(VC_ResetToFlashCode(connection), kIOReturnSuccess);
    platform.pollEvents(Milliseconds{0});
    clock.advance(Milliseconds{1500});
    platform.pollEvents(Milliseconds{0});
    const std::string after = platform.listDevices().at(0).platformKey;
    EXPECT_NE(before, after);
    // Each of its two halves leaves and comes back, the High-Speed one on bus 128.
    EXPECT_EQ(events,
              (std::vector<std::pair<UsbHotplugEvent, std::string>>{{UsbHotplugEvent::Left, before},
                                                                    {UsbHotplugEvent::Left, "128/001"},
                                                                    {UsbHotplugEvent::Arrived, after},
                                                                    {UsbHotplugEvent::Arrived, "128/002"}}));
}

}  // namespace
}  // namespace velmora::devicetest
