// The simulated hub model: flash semantics, status block, restarts, faults and
// the named scenarios.
#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "device/simulated/SimulatedEnvironment.h"
#include "firmware/ImageLayout.h"
#include "tests/device/DeviceTestRig.h"

namespace velmora::devicetest {
namespace {

using sim::Outcome;
using sim::RunState;

class SimulatedHubTest : public SimulatedRig {
protected:
    sim::ControlAnswer send(sim::SimulatedHub& hub, std::uint8_t type, std::uint8_t request,
                            std::uint32_t address, std::vector<std::uint8_t>& data) {
        const UsbSetup setup{type, request, static_cast<std::uint16_t>(address & 0xFFFF),
                             static_cast<std::uint16_t>(address >> 16),
                             static_cast<std::uint16_t>(data.size())};
        return hub.handleControl(setup, data.data());
    }
    sim::ControlAnswer write(sim::SimulatedHub& hub, std::uint32_t address, std::vector<std::uint8_t> data) {
        return send(hub, 0x40, 0xC8, address, data);
    }
    std::vector<std::uint8_t> read(sim::SimulatedHub& hub, std::uint32_t address, std::size_t length,
                                   Outcome expected = Outcome::Completed) {
        std::vector<std::uint8_t> data(length);
        EXPECT_EQ(send(hub, 0xC0, 0xD8, address, data).outcome, expected);
        return data;
    }
    sim::ControlAnswer simple(sim::SimulatedHub& hub, std::uint8_t request, std::uint16_t value = 0) {
        return hub.handleControl(UsbSetup{0x40, request, value, 0, 0}, nullptr);
    }
};

TEST_F(SimulatedHubTest, ProgrammingCanOnlyClearBits) {
    sim::SimulatedHub& hub = addHub(false);
    EXPECT_EQ(read(hub, 0, 4), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(write(hub, 0, {0xF0, 0x0F, 0x00, 0xAA}).outcome, Outcome::Completed);
    // Programming over data that was not erased reports success but does not verify.
    EXPECT_EQ(write(hub, 0, {0x0F, 0xFF, 0x55, 0xAA}).outcome, Outcome::Completed);
    EXPECT_EQ(read(hub, 0, 4), (std::vector<std::uint8_t>{0x00, 0x0F, 0x00, 0xAA}));
    EXPECT_EQ(simple(hub, 0xE8).outcome, Outcome::Completed);
    EXPECT_EQ(read(hub, 0, 4), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(SimulatedHubTest, TransfersOutsideTheFlashStall) {
    sim::SimulatedHub& hub = addHub(false);
    read(hub, 32768 - 16, 16);
    read(hub, 32768 - 16, 32, Outcome::Stalled);
    read(hub, 65536, 1, Outcome::Stalled);
    EXPECT_EQ(write(hub, 32768, {0x00}).outcome, Outcome::Stalled);
    EXPECT_EQ(write(hub, 0x10000 + 0, {0x00}).outcome, Outcome::Stalled);
    EXPECT_EQ(hub.flashContents(), std::vector<std::uint8_t>(sim::kFlashBytes, 0xFF));
}

TEST_F(SimulatedHubTest, FlashCodeRefusesToTouchTheFlash) {
    sim::SimulatedHub& hub = addHub(true);
    const std::vector<std::uint8_t> before = hub.flashContents();
    EXPECT_EQ(simple(hub, 0xE8).outcome, Outcome::Stalled);
    EXPECT_EQ(write(hub, 0, {0x00}).outcome, Outcome::Stalled);
    read(hub, 0, 1, Outcome::Stalled);
    EXPECT_EQ(hub.flashContents(), before);
}

TEST_F(SimulatedHubTest, StatusBlockShowsVersionWaitSelectorAndCode) {
    sim::SimulatedHub& hub = addHub(true);
    hub.setWaitSelector(1);
    auto block = hub.statusBlock();
    EXPECT_EQ(block[10] << 8 | block[11], kImageVersion);
    EXPECT_EQ(block[13], 1);
    EXPECT_EQ(block[15], 0x02);
    hub.setRunState(RunState::RomCode);
    block = hub.statusBlock();
    EXPECT_EQ(block[10] << 8 | block[11], sim::kDefaultRomVersion);
    EXPECT_EQ(block[15], 0x00);
}

TEST_F(SimulatedHubTest, ImageVersionComesFromTheLastBlockOnA256ByteStep) {
    std::vector<std::uint8_t> flash(sim::kFlashBytes, 0xFF);
    auto putBlock = [&](std::size_t at, std::uint8_t first, std::uint8_t second, std::uint16_t version) {
        flash[at] = first;
        flash[at + 1] = second;
        flash[at - 7] = static_cast<std::uint8_t>(version >> 8);
        flash[at - 6] = static_cast<std::uint8_t>(version & 0xFF);
    };
    sim::SimulatedHub& hub = addHub(false);
    putBlock(0x1000, 0x3C, 0xC3, 0x0111);
    hub.loadFlashImage(flash);
    EXPECT_EQ(hub.imageVersion(), 0x0111);
    putBlock(0x2000, 0x55, 0xAA, 0x0222);
    putBlock(0x7F00 + 16, 0xAA, 0x55, 0x0333);  // off the 256-byte steps: not a block
    hub.loadFlashImage(flash);
    EXPECT_EQ(hub.imageVersion(), 0x0222);
    EXPECT_EQ(hub.runState(), RunState::FlashCode);
}

TEST_F(SimulatedHubTest, ResetsLeaveTheBusAndComeBackInTheAskedCode) {
    sim::SimulatedHub& hub = addHub(true);
    const std::uint64_t first = hub.enumeration();
    EXPECT_EQ(simple(hub, 0x00).outcome, Outcome::Completed);
    EXPECT_FALSE(hub.isOnBus());
    EXPECT_EQ(simple(hub, 0x02, 0x0001).outcome, Outcome::NoDevice);
    clock.advance(Milliseconds{1499});
    EXPECT_FALSE(hub.isOnBus());
    clock.advance(Milliseconds{1});
    EXPECT_TRUE(hub.isOnBus());
    EXPECT_EQ(hub.runState(), RunState::RomCode);
    EXPECT_GT(hub.enumeration(), first);
    EXPECT_EQ(simple(hub, 0xE9, 0x0101).outcome, Outcome::Completed);
    clock.advance(Milliseconds{1500});
    EXPECT_EQ(hub.runState(), RunState::FlashCode);
}

TEST_F(SimulatedHubTest, ResetToFlashCodeWithoutAnImageLandsInRomCode) {
    sim::SimulatedHub& hub = addHub(false);
    EXPECT_EQ(simple(hub, 0xE9, 0x0101).outcome, Outcome::Completed);
    clock.advance(Milliseconds{1500});
    EXPECT_EQ(hub.runState(), RunState::RomCode);
}

TEST_F(SimulatedHubTest, BusNumbersADeviceAfreshAtEachAppearance) {
    sim::SimulatedHub& hub = addHub(true);
    bus.addPlainDevice(0x046D, 0xC077, "1-3");
    std::set<std::string> keys;
    for (int round = 0; round < 3; ++round) {
        const std::vector<UsbDeviceInfo> devices = platform.listDevices();
        ASSERT_EQ(devices.size(), 2u);
        EXPECT_EQ(devices[0].portPath, "1-1");
        keys.insert(devices[0].platformKey);
        simple(hub, 0x00);
        EXPECT_EQ(platform.listDevices().size(), 1u);
        clock.advance(Milliseconds{1500});
    }
    EXPECT_EQ(keys.size(), 3u);
}

// A hub boots its flash code with the IDs of the configuration block in its flash;
// its ROM code keeps the IDs it was made with. So after an update with an image of
// other IDs, the hub comes back as a device the table may not list.
TEST_F(SimulatedHubTest, FlashCodeEnumeratesWithTheIdsOfTheImageInFlash) {
    const testing::HubIdentity other{0x1234, 0x5678, 0x5679};
    for (bool superSpeed : {true, false}) {
        SCOPED_TRACE(superSpeed);
        sim::SimulatedBus ownBus(clock);
        sim::SimulatedUsbPlatform ownPlatform(ownBus);
        sim::SimulatedHub& hub = ownBus.addHub({kVendorId, kSuperSpeedId, kHighSpeedId, superSpeed});
        hub.loadFlashImage(testing::sampleImageFor(other));
        const auto ids = [&ownPlatform] {
            const UsbDeviceInfo device = ownPlatform.listDevices().at(0);
            return std::pair{device.vendorId, device.productId};
        };
        EXPECT_EQ(ids(), std::pair(other.vid, superSpeed ? other.sspid : other.hspid));
        simple(hub, 0x00);  // into ROM code
        clock.advance(Milliseconds{1500});
        EXPECT_EQ(ids(), std::pair(kVendorId, superSpeed ? kSuperSpeedId : kHighSpeedId));
        simple(hub, 0xE8);  // erased: the flash code has no block to take IDs from
        simple(hub, 0xE9, 0x0101);
        clock.advance(Milliseconds{1500});
        EXPECT_EQ(hub.runState(), RunState::RomCode);
        EXPECT_EQ(ids(), std::pair(kVendorId, superSpeed ? kSuperSpeedId : kHighSpeedId));
    }
}

// In its flash code a hub on a SuperSpeed port is two hubs sharing the image's
// container ID, on a USB 2 port only its High-Speed half; its ROM code is one
// vendor-specific device with the IDs it was made with, on the link it has.
TEST_F(SimulatedHubTest, FacesFollowTheCodeAndTheLink) {
    using sim::FaceKind;
    struct Case {
        bool superSpeedLink;
        bool flashCode;
        std::vector<std::tuple<FaceKind, bool, std::uint16_t>> faces;  // kind, SuperSpeed, product ID
    };
    const Case cases[] = {
        {true, true, {{FaceKind::HubHalf, true, kSuperSpeedId}, {FaceKind::HubHalf, false, kHighSpeedId}}},
        {false, true, {{FaceKind::HubHalf, false, kHighSpeedId}}},
        {true, false, {{FaceKind::RomDevice, true, kSuperSpeedId}}},
        {false, false, {{FaceKind::RomDevice, false, kHighSpeedId}}},
    };
    const std::vector<std::uint8_t> image = sampleImage();
    const auto block = image.end() - static_cast<std::ptrdiff_t>(image::kBlockBytes);
    const std::vector<std::uint8_t> containerId(
        block + image::kContainerIdOffset, block + image::kContainerIdOffset + image::kContainerIdLength);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "SuperSpeed link " << c.superSpeedLink << ", flash code " << c.flashCode);
        sim::SimulatedHub hub({kVendorId, kSuperSpeedId, kHighSpeedId, c.superSpeedLink}, clock);
        if (c.flashCode) hub.loadFlashImage(image);
        std::vector<std::tuple<FaceKind, bool, std::uint16_t>> shown;
        for (const sim::HubFace& face : hub.faces()) {
            shown.emplace_back(face.kind, face.superSpeed, face.productId);
            EXPECT_EQ(face.vendorId, kVendorId);
            EXPECT_EQ(face.hasSerialNumber, c.flashCode);
            ASSERT_EQ(face.containerId.has_value(), c.flashCode);
            if (face.containerId) {
                EXPECT_EQ(std::vector<std::uint8_t>(face.containerId->begin(), face.containerId->end()),
                          containerId);
            }
        }
        EXPECT_EQ(shown, c.faces);
    }
}

// A short answer hands over the first half of the data stage and leaves the rest
// of the caller's buffer as it was.
TEST_F(SimulatedHubTest, AShortAnswerDeliversHalfOfTheDataStage) {
    sim::SimulatedHub& hub = addHub(false);
    ASSERT_EQ(write(hub, 0, std::vector<std::uint8_t>(64, 0x5A)).outcome, Outcome::Completed);
    sim::HubFaults faults;
    faults.shortAnswers.push_back({sim::RequestKind::ReadFlash, 1});
    hub.setFaults(faults);
    std::vector<std::uint8_t> data(64, 0x00);
    const sim::ControlAnswer answer = send(hub, 0xC0, 0xD8, 0, data);
    EXPECT_EQ(answer.outcome, Outcome::Completed);
    EXPECT_EQ(answer.actualLength, 32);
    EXPECT_EQ(std::count(data.begin(), data.end(), 0x5A), 32);
    EXPECT_EQ(std::count(data.begin() + 32, data.end(), 0x00), 32);
    EXPECT_EQ(read(hub, 0, 64), std::vector<std::uint8_t>(64, 0x5A));
}

TEST_F(SimulatedHubTest, InjectedFailuresAreCountedPerKind) {
    sim::SimulatedHub& hub = addHub(false);
    failNext(hub, sim::RequestKind::EraseFlash, 2, Outcome::TimedOut);
    EXPECT_EQ(simple(hub, 0xE8).outcome, Outcome::TimedOut);
    read(hub, 0, 4);
    EXPECT_EQ(simple(hub, 0xE8).outcome, Outcome::TimedOut);
    EXPECT_EQ(simple(hub, 0xE8).outcome, Outcome::Completed);
}

TEST_F(SimulatedHubTest, CorruptedReadBackFlipsOneByteOnly) {
    sim::SimulatedHub& hub = addHub(false);
    sim::HubFaults faults;
    faults.corruptReadAddress = 0x1001;
    hub.setFaults(faults);
    std::vector<std::uint8_t> expected(4096, 0xFF);
    expected[1] = 0x00;
    EXPECT_EQ(read(hub, 0x1000, 4096), expected);
    EXPECT_EQ(read(hub, 0, 4096), std::vector<std::uint8_t>(4096, 0xFF));
    EXPECT_EQ(hub.flashContents()[0x1001], 0xFF);
}

TEST_F(SimulatedHubTest, RecordsSetupBytesAndOutData) {
    sim::SimulatedHub& hub = addHub(false);
    write(hub, 0x2000, {1, 2, 3});
    read(hub, 0x2000, 2);
    const std::vector<sim::RecordedRequest> requests = hub.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].wireBytes, (Wire{0x40, 0xC8, 0x00, 0x20, 0x00, 0x00, 0x03, 0x00}));
    EXPECT_EQ(requests[0].outData, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_TRUE(requests[1].outData.empty());
    EXPECT_EQ(requests[1].answer.actualLength, 2);
}

TEST_F(SimulatedHubTest, UnknownRequestsStall) {
    sim::SimulatedHub& hub = addHub(true);
    EXPECT_EQ(simple(hub, 0x77).outcome, Outcome::Stalled);
    std::vector<std::uint8_t> data(32);
    EXPECT_EQ(send(hub, 0x40, 0x09, 0, data).outcome, Outcome::Stalled);  // status asked the wrong way
}

TEST(SimulationScenarios, EveryNamedScenarioBuildsAndUnknownNamesAreRefused) {
    std::set<std::string_view> names;
    for (const sim::SimulationScenario& scenario : sim::simulationScenarios()) {
        SCOPED_TRACE(scenario.name);
        EXPECT_TRUE(names.insert(scenario.name).second);
        EXPECT_FALSE(scenario.description.empty());
        EXPECT_NE(sim::simulationScenarioHelp().find(scenario.name), std::string::npos);
        VirtualClock clock;
        sim::SimulatedBus bus(clock);
        EXPECT_TRUE(sim::applySimulationScenario(scenario.name, bus, {1, 1, 2, 3}));
        EXPECT_FALSE(bus.presentDevices().empty());
    }
    for (const char* expected :
         {"no-hub", "busy", "stall-erase", "stall-write", "never-returns", "wrong-code", "corrupt-readback",
          "disconnect", "flash-code", "rom-code", "two-hubs"})
        EXPECT_TRUE(names.contains(expected)) << expected;
    VirtualClock clock;
    sim::SimulatedBus bus(clock);
    EXPECT_FALSE(sim::applySimulationScenario("no-such-thing", bus, {1, 1, 2, 3}));
    EXPECT_TRUE(bus.presentDevices().empty());
}

TEST(SimulatedEnvironment, HubTakesTheFirstValidTableEntry) {
    VirtualClock clock;
    SupportedDeviceTable table;
    table.set(3, kVendorId, kSuperSpeedId, kHighSpeedId);
    table.set(7, 0x1111, 0x2222, 0x3333);
    auto environment = sim::SimulatedEnvironment::create(table, clock);
    ASSERT_NE(environment, nullptr);
    ASSERT_NE(environment->hub(), nullptr);
    EXPECT_EQ(environment->hub()->config().vendorId, kVendorId);
    EXPECT_EQ(environment->hub()->imageVersion(), sim::kSampleImageVersion);
    HubConnection connection(environment->platform(), table, clock);
    EXPECT_TRUE(connection.isHubPresent());
    EXPECT_EQ(sim::SimulatedEnvironment::create(table, clock, "nonsense"), nullptr);

    // With an empty table the simulated hub is one that nobody looks for.
    SupportedDeviceTable empty;
    auto unlisted = sim::SimulatedEnvironment::create(empty, clock);
    HubConnection unlistedConnection(unlisted->platform(), table, clock);
    EXPECT_FALSE(unlistedConnection.isHubPresent());
}

}  // namespace
}  // namespace velmora::devicetest
