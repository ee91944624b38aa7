#include "EmulatedHubFixture.h"

#include <unistd.h>

#include <fstream>

namespace velmora::usbfs::testing {

namespace {
// libusb keeps bus numbers in a byte; real machines use the low ones. A hub's
// High-Speed half sits on the twin bus 127 below (sim::peerPortOf), which no
// other test process uses as its own.
constexpr unsigned kFirstTestBus = 128;
constexpr unsigned kTestBusCount = 127;
constexpr std::uint16_t kMouseVendorId = 0x046D;
constexpr std::uint16_t kMouseProductId = 0xC077;
}  // namespace

std::string testPortPath(int port) {
    static const unsigned bus = kFirstTestBus + static_cast<unsigned>(getpid()) % kTestBusCount;
    return std::to_string(bus) + "-" + std::to_string(port);
}

std::vector<std::uint8_t> sampleImage(std::uint16_t version) {
    return velmora::testing::sampleImageFor({kHubVendorId, kSuperSpeedProductId, kHighSpeedProductId}, 8192,
                                            version);
}

sim::SimulatedHubConfig commandLineHubConfig() {
    sim::SimulatedHubConfig config;
    config.vendorId = kHubVendorId;
    config.superSpeedProductId = kSuperSpeedProductId;
    config.highSpeedProductId = kHighSpeedProductId;
    config.portPath = testPortPath(1);
    config.rebootTime = kTestRebootTime;
    config.waitSelector = 1;  // one-second polls after the reset to ROM code
    return config;
}

void writeCommandLineConfig(const std::filesystem::path& file) {
    std::ofstream(file) << "[Support Vid Pid]\nVID_00 = 0x2FE3\nSSPID_00 = 0x0611\nHSPID_00 = 0x0610\n";
}

sim::HubFaults failing(sim::RequestKind kind, int count, sim::Outcome outcome) {
    sim::HubFaults faults;
    faults.failures.push_back({kind, count, outcome});
    return faults;
}

EmulatedHubTest::EmulatedHubTest() {
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
    velmora::testing::RigHubOptions options;
    options.superSpeedProductId = productId;
    options.highSpeedProductId = highSpeedProductId;
    options.superSpeed = superSpeed;
    options.portPath = testPortPath(port);
    options.rebootTime = kTestRebootTime;
    options.imageVersion = kImageVersion;
    sim::SimulatedHub& hub = hubs_.addHub(options);
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
