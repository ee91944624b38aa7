#include "EmulatedHubFixture.h"

#include <unistd.h>

#include "device/simulated/SampleImage.h"

namespace velmora::usbfs::testing {

namespace {
// libusb keeps bus numbers in a byte; real machines use the low ones.
constexpr unsigned kFirstTestBus = 64;
constexpr unsigned kTestBusCount = 190;
constexpr std::uint16_t kMouseVendorId = 0x046D;
constexpr std::uint16_t kMouseProductId = 0xC077;
}  // namespace

std::string testPortPath(int port) {
    static const unsigned bus = kFirstTestBus + static_cast<unsigned>(getpid()) % kTestBusCount;
    return std::to_string(bus) + "-" + std::to_string(port);
}

std::vector<std::array<std::uint8_t, 8>> wireBytesOf(const sim::SimulatedHub& hub) {
    std::vector<std::array<std::uint8_t, 8>> bytes;
    for (const sim::RecordedRequest& request : hub.requests()) bytes.push_back(request.wireBytes);
    return bytes;
}

std::vector<std::uint8_t> sampleImage(std::uint16_t version) {
    sim::SampleImageLayout layout;
    layout.vendorId = kHubVendorId;
    layout.superSpeedProductId = kSuperSpeedProductId;
    layout.highSpeedProductId = kHighSpeedProductId;
    layout.version = version;
    return sim::makeSampleImage(layout);
}

sim::HubFaults failing(sim::RequestKind kind, int count, sim::Outcome outcome) {
    sim::HubFaults faults;
    faults.failures.push_back({kind, count, outcome});
    return faults;
}

EmulatedHubTest::EmulatedHubTest() {
    table_.set(0, kHubVendorId, kSuperSpeedProductId, kHighSpeedProductId);
    table_.set(1, kHubVendorId, kSecondSuperSpeedProductId, kSecondHighSpeedProductId);
    testbed_ = std::make_unique<UsbfsTestbed>(bus_);
    clock_ = std::make_unique<TestbedClock>(virtualClock_, *testbed_);
}

EmulatedHubTest::~EmulatedHubTest() {
    // The handle and its lock go first, libusb next, the emulation last.
    connection_.reset();
    platform_.reset();
    testbed_.reset();
}

sim::SimulatedHub& EmulatedHubTest::addHub(int port, bool superSpeed, std::uint16_t productId,
                                           std::uint16_t highSpeedProductId) {
    sim::SimulatedHubConfig config;
    config.vendorId = kHubVendorId;
    config.superSpeedProductId = productId;
    config.highSpeedProductId = highSpeedProductId;
    config.enumeratesAsSuperSpeed = superSpeed;
    config.portPath = testPortPath(port);
    config.rebootTime = kTestRebootTime;
    sim::SimulatedHub& hub = bus_.addHub(config);
    hub.loadFlashImage(sampleImage());
    testbed_->sync();
    return hub;
}

void EmulatedHubTest::addMouse(int port) {
    bus_.addPlainDevice(kMouseVendorId, kMouseProductId, testPortPath(port));
    testbed_->sync();
}

void EmulatedHubTest::startLibusb() {
    platform_ = std::make_unique<LibusbPlatform>();
    ASSERT_TRUE(platform_->isReady());
    connection_ = std::make_unique<HubConnection>(*platform_, table_, *clock_);
}

}  // namespace velmora::usbfs::testing
