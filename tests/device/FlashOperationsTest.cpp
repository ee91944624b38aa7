// The multi-step flash operations: exact request sequences, retries and the
// waits for a restarting hub, all in virtual time.
#include "device/FlashOperations.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"
#include "device/simulated/SimulationScenarios.h"
#include "tests/device/DeviceTestRig.h"

namespace velmora::devicetest {
namespace {

using sim::RequestKind;

class FlashOperationsTest : public SimulatedRig {
protected:
    void openAndForget(sim::SimulatedHub& hub) {
        ASSERT_TRUE(USB_OpenHub(connection));
        hub.clearRequests();
    }
};

TEST_F(FlashOperationsTest, HubInRomCodeOpensWithOneStatusReadAndNoReset) {
    sim::SimulatedHub& hub = addHub(false);
    EXPECT_TRUE(FL_OpenRomDevice(connection));
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(wireOf(hub), (std::vector<Wire>{kHandshake, kStatusRead}));
    EXPECT_TRUE(clock.sleeps().empty());
}

TEST_F(FlashOperationsTest, HubInFlashCodeIsResetIntoRomCodeAndReopened) {
    struct Case {
        std::uint8_t waitSelector;
        std::vector<Milliseconds> sleeps;
    };
    // The hub takes 1.5 s to come back and is opened once it is listed again, after
    // the settle time; with 1 s polls, the first poll comes before it.
    for (const Case& c : {Case{0, ms({1500, 50})}, Case{1, ms({1000, 500, 50})}, Case{2, ms({1500, 50})}}) {
        SCOPED_TRACE(static_cast<int>(c.waitSelector));
        sim::SimulatedBus ownBus(clock);
        sim::SimulatedUsbPlatform ownPlatform(ownBus);
        HubConnection own(ownPlatform, table, clock);
        sim::SimulatedHub& hub = ownBus.addHub({kVendorId, kSuperSpeedId, kHighSpeedId});
        hub.loadFlashImage(sampleImage());
        hub.setWaitSelector(c.waitSelector);
        clock.clearSleeps();

        EXPECT_TRUE(FL_OpenRomDevice(own));
        EXPECT_TRUE(own.isOpen());
        EXPECT_EQ(hub.runState(), sim::RunState::RomCode);
        EXPECT_EQ(wireOf(hub), (std::vector<Wire>{kHandshake, kStatusRead, kStatusRead, kResetToRom,
                                                  kHandshake, kStatusRead}));
        EXPECT_EQ(clock.sleeps(), c.sleeps);
    }
}

TEST_F(FlashOperationsTest, HubThatComesBackInFlashCodeFailsWithNothingOpen) {
    sim::SimulatedHub& hub = addHub();
    sim::HubFaults faults;
    faults.returnsInWrongCode = true;
    hub.setFaults(faults);
    EXPECT_FALSE(FL_OpenRomDevice(connection));
    EXPECT_FALSE(connection.isOpen());
    EXPECT_FALSE(bus.isPortClaimed("1-1"));
    EXPECT_EQ(hub.runState(), sim::RunState::FlashCode);
}

TEST_F(FlashOperationsTest, NoOperationLeavesAConnectionOpenWhenItFails) {
    for (const char* scenario : {"no-hub", "busy", "stall-reset", "never-returns", "wrong-code"}) {
        SCOPED_TRACE(scenario);
        sim::SimulatedBus ownBus(clock);
        sim::SimulatedUsbPlatform ownPlatform(ownBus);
        HubConnection own(ownPlatform, table, clock);
        ASSERT_TRUE(sim::applySimulationScenario(scenario, ownBus, table.entry(0)));
        EXPECT_FALSE(FL_OpenRomDevice(own));
        EXPECT_FALSE(own.isOpen());
        EXPECT_FALSE(ownBus.isPortClaimed(std::string(sim::kFirstHubPort)));
    }
}

TEST_F(FlashOperationsTest, EraseThatSucceedsAtOnceStillPauses) {
    sim::SimulatedHub& hub = addHub(false);
    openAndForget(hub);
    EXPECT_TRUE(FL_EraseFlash(connection));
    EXPECT_EQ(wireOf(hub), std::vector<Wire>{kErase});
    EXPECT_EQ(clock.sleeps(), ms({128}));
}

TEST_F(FlashOperationsTest, EraseIsTriedThreeTimesWithAPauseAfterEach) {
    struct Case {
        int failures;
        bool result;
        std::size_t requests;
    };
    for (const Case& c : {Case{1, true, 2}, Case{2, true, 3}, Case{3, false, 3}, Case{5, false, 3}}) {
        SCOPED_TRACE(c.failures);
        sim::SimulatedHub& hub = addHub(false, "1-" + std::to_string(c.failures + 1));
        HubConnection own(platform, table, clock, hub.config().portPath);
        ASSERT_TRUE(USB_OpenHub(own));
        hub.clearRequests();
        clock.clearSleeps();
        failNext(hub, RequestKind::EraseFlash, c.failures);
        EXPECT_EQ(FL_EraseFlash(own), c.result);
        EXPECT_EQ(wireOf(hub), std::vector<Wire>(c.requests, kErase));
        EXPECT_EQ(clock.sleeps(), std::vector<Milliseconds>(c.requests, Milliseconds{128}));
        EXPECT_TRUE(own.isOpen());
    }
}

TEST_F(FlashOperationsTest, ResetThatFailsThreeTimesPausesAfterEachAndCloses) {
    sim::SimulatedHub& hub = addHub(false);
    openAndForget(hub);
    failNext(hub, RequestKind::ResetToFlashCode, 3);
    EXPECT_FALSE(FL_ResetAndWait(flash::kResetToFlashCode, connection));
    EXPECT_EQ(wireOf(hub), std::vector<Wire>(3, kResetToFlash));
    EXPECT_EQ(clock.sleeps(), ms({128, 128, 128}));
    EXPECT_FALSE(connection.isOpen());
}

TEST_F(FlashOperationsTest, ResetThatSucceedsAtTheSecondAttemptWaitsForTheHub) {
    sim::SimulatedHub& hub = addHub(false);
    openAndForget(hub);
    failNext(hub, RequestKind::ResetToRomCode, 1, sim::Outcome::TimedOut);
    EXPECT_TRUE(FL_ResetAndWait(flash::kResetToRomCode, connection));
    EXPECT_EQ(wireOf(hub), (std::vector<Wire>{kStatusRead, kResetToRom, kResetToRom, kHandshake}));
    EXPECT_EQ(clock.sleeps(), ms({128, 1500, 50}));
    EXPECT_TRUE(connection.isOpen());
}

TEST_F(FlashOperationsTest, HubThatNeverComesBackIsGivenUpAfterTwentyPolls) {
    sim::SimulatedHub& hub = addHub();
    sim::HubFaults faults;
    faults.neverReturnsAfterReset = true;
    hub.setFaults(faults);
    hub.setWaitSelector(1);  // only a reset to ROM code polls faster
    openAndForget(hub);
    EXPECT_FALSE(FL_ResetAndWait(flash::kResetToFlashCode, connection));
    EXPECT_EQ(clock.sleeps(), std::vector<Milliseconds>(20, Milliseconds{2000}));
    EXPECT_EQ(clock.now(), Milliseconds{40000});
    EXPECT_FALSE(connection.isOpen());
    EXPECT_EQ(wireOf(hub), std::vector<Wire>{kResetToFlash});
}

// A poll that finds the hub listed but gone (its handshake answers "no device")
// has not reached it: the wait goes on, and gives up when no poll ever does. The
// open on the hub's arrival (at 1.55 s) comes before the twenty scheduled polls.
TEST_F(FlashOperationsTest, ReopenPollsPassOverAHubWhoseHandshakeFindsNoDevice) {
    struct Case {
        int goneHandshakes;
        bool back;
        Milliseconds endsAt;
    };
    for (const Case& c : {Case{2, true, Milliseconds{4000}}, Case{21, false, Milliseconds{40000}}}) {
        SCOPED_TRACE(c.goneHandshakes);
        sim::SimulatedHub& hub = addHub(false, "1-" + std::to_string(c.goneHandshakes));
        HubConnection own(platform, table, clock, hub.config().portPath);
        ASSERT_TRUE(USB_OpenHub(own));
        const Milliseconds start = clock.now();
        failNext(hub, RequestKind::OpenHandshake, c.goneHandshakes, sim::Outcome::NoDevice);
        EXPECT_EQ(FL_ResetAndWait(flash::kResetToFlashCode, own), c.back);
        EXPECT_EQ(own.isOpen(), c.back);
        EXPECT_EQ(clock.now() - start, c.endsAt);
    }
}

// With two hubs attached, the reopen after a reset waits for the hub that was
// reset, even while another supported hub (here one in ROM code, ready to be
// written) is listed first during the reboot.
TEST_F(FlashOperationsTest, TheReopenAfterAResetReachesOnlyTheHubThatWasReset) {
    sim::SimulatedHub& reset = addHub(true, "1-1", Milliseconds{3000});
    sim::SimulatedHub& other = addHub(false, "1-2");
    ASSERT_TRUE(FL_OpenRomDevice(connection));
    EXPECT_EQ(connection.openPortPath(), "1-1");
    EXPECT_EQ(reset.runState(), sim::RunState::RomCode);
    EXPECT_EQ(clock.sleeps(), ms({2000, 1000, 50}));  // away for 3 s: the first poll finds only the other
    EXPECT_TRUE(other.requests().empty());
    EXPECT_FALSE(bus.isPortClaimed("1-2"));
}

TEST_F(FlashOperationsTest, FastWaitSelectorGivesOneSecondPollsForRomCode) {
    sim::SimulatedHub& hub = addHub();
    sim::HubFaults faults;
    faults.neverReturnsAfterReset = true;
    hub.setFaults(faults);
    hub.setWaitSelector(1);
    openAndForget(hub);
    EXPECT_FALSE(FL_ResetAndWait(flash::kResetToRomCode, connection));
    EXPECT_EQ(clock.sleeps(), std::vector<Milliseconds>(20, Milliseconds{1000}));
}

TEST_F(FlashOperationsTest, FailedWaitSelectorReadMeansTwoSecondPolls) {
    sim::SimulatedHub& hub = addHub();
    hub.setWaitSelector(1);
    openAndForget(hub);
    failNext(hub, RequestKind::ReadStatus, 1);
    EXPECT_TRUE(FL_ResetAndWait(flash::kResetToRomCode, connection));
    EXPECT_EQ(clock.sleeps(), ms({1500, 50}));  // with 1 s polls, the first would have come at 1 s
}

TEST_F(FlashOperationsTest, SendResetAlwaysClosesAndRefusesUnknownCodes) {
    sim::SimulatedHub& hub = addHub();
    openAndForget(hub);
    EXPECT_FALSE(FL_SendReset(0x23, connection));
    EXPECT_FALSE(connection.isOpen());
    EXPECT_TRUE(hub.requests().empty());
    ASSERT_TRUE(USB_OpenHub(connection));
    EXPECT_TRUE(FL_SendReset(flash::kResetToFlashCode, connection));
    EXPECT_FALSE(connection.isOpen());
    EXPECT_FALSE(bus.isPortClaimed("1-1"));
}

TEST_F(FlashOperationsTest, ImagesMoveInChunksOfTheTransferUnit) {
    struct Case {
        std::size_t size;
        std::vector<std::size_t> chunks;
    };
    sim::SimulatedHub& hub = addHub(false);
    ASSERT_TRUE(FL_OpenRomDevice(connection));
    for (const Case& c : {Case{10000, {4096, 4096, 1808}}, Case{8192, {4096, 4096}}, Case{1, {1}},
                          Case{32768, std::vector<std::size_t>(8, 4096)}}) {
        SCOPED_TRACE(c.size);
        const std::vector<std::uint8_t> image(c.size, 0x5A);
        std::vector<std::uint8_t> readBack(c.size);
        std::vector<std::size_t> progress;
        const auto record = [&](std::size_t done, std::size_t total) {
            EXPECT_EQ(total, c.size);
            progress.push_back(done);
        };
        hub.clearRequests();
        ASSERT_TRUE(FL_WriteImage(image.data(), image.size(), connection, record));
        ASSERT_TRUE(FL_ReadImage(readBack.data(), readBack.size(), connection, record));
        std::vector<std::size_t> sent;
        std::vector<std::size_t> done;
        std::size_t address = 0;
        for (const sim::RecordedRequest& request : hub.requests()) {
            sent.push_back(request.setup.wLength);
            // The image offset is the flash address; each pass starts again at 0.
            if (request.setup.bRequest == vendor::kRequestReadFlash && sent.size() == c.chunks.size() + 1)
                address = 0;
            EXPECT_EQ(request.setup.wValue | request.setup.wIndex << 16, address);
            address += request.setup.wLength;
            done.push_back(address);
        }
        std::vector<std::size_t> both = c.chunks;
        both.insert(both.end(), c.chunks.begin(), c.chunks.end());
        EXPECT_EQ(sent, both);
        EXPECT_EQ(progress, done);
    }
}

TEST_F(FlashOperationsTest, ImageMovesStopAtTheFirstRefusedChunk) {
    sim::SimulatedHub& hub = addHub(false);
    ASSERT_TRUE(FL_OpenRomDevice(connection));
    const std::vector<std::uint8_t> image = sampleImage(32768);
    std::vector<std::uint8_t> readBack(image.size());
    int calls = 0;
    const auto count = [&](std::size_t, std::size_t) { ++calls; };

    hub.clearRequests();
    failNext(hub, RequestKind::ReadFlash, 1);
    EXPECT_FALSE(FL_ReadImage(readBack.data(), readBack.size(), connection, count));
    EXPECT_EQ(hub.requests().size(), 1u);
    EXPECT_EQ(calls, 0);

    // The third chunk is lost with the hub: nothing is sent after it.
    hub.clearRequests();
    sim::HubFaults faults;
    faults.disconnect = sim::DisconnectFault{RequestKind::WriteFlash, 3, false};
    hub.setFaults(faults);
    EXPECT_FALSE(FL_WriteImage(image.data(), image.size(), connection, count));
    EXPECT_EQ(hub.requests().size(), 3u);
    EXPECT_EQ(calls, 2);
    USB_CloseHub(connection);
}

// An update from start to end, as the workflows run it.
TEST_F(FlashOperationsTest, FullUpdateLeavesTheNewImageRunning) {
    addHub();
    const std::vector<std::uint8_t> image = sampleImage(10000, 0x0305);
    ASSERT_TRUE(FL_OpenRomDevice(connection));
    ASSERT_TRUE(FL_EraseFlash(connection));
    std::vector<std::uint8_t> readBack(image.size());
    ASSERT_TRUE(FL_WriteImage(image.data(), image.size(), connection));
    ASSERT_TRUE(FL_ReadImage(readBack.data(), readBack.size(), connection));
    EXPECT_EQ(readBack, image);
    ASSERT_TRUE(FL_ResetAndWait(flash::kResetToFlashCode, connection));
    EXPECT_EQ(VC_GetFwVersion(connection), 0x0305);
    EXPECT_FALSE(VC_IsRomMode(connection));
    USB_CloseHub(connection);
}

TEST_F(FlashOperationsTest, HubThatDropsOffDuringAWriteComesBackInRomCode) {
    sim::SimulatedHub& hub = addHub(false);
    sim::HubFaults faults;
    faults.disconnect = sim::DisconnectFault{RequestKind::WriteFlash, 2, true};
    hub.setFaults(faults);
    const std::vector<std::uint8_t> image = sampleImage(8192);
    ASSERT_TRUE(FL_OpenRomDevice(connection));
    EXPECT_EQ(VC_WriteFlash(0, image.data(), 4096, connection), kIOReturnSuccess);
    EXPECT_EQ(VC_WriteFlash(4096, image.data() + 4096, 4096, connection), kIOReturnNoDevice);
    USB_CloseHub(connection);
    EXPECT_FALSE(USB_IsHubPresent(connection));
    clock.advance(Milliseconds{1500});
    EXPECT_TRUE(FL_OpenRomDevice(connection));
}

}  // namespace
}  // namespace velmora::devicetest
