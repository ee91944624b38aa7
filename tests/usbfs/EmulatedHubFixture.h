#pragma once
// A simulated bus in virtual time, shown to libusb through the emulated usbfs,
// and a hub connection over LibusbPlatform: the code real users run. Sleeps of
// the connection's clock move the bus, so reset waits run instantly.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/HubConnection.h"
#include "device/LibusbPlatform.h"
#include "device/simulated/SimulatedBus.h"
#include "testbed/TestbedClock.h"
#include "testbed/UsbfsTestbed.h"
#include "tests/support/HubRig.h"

namespace velmora::usbfs::testing {

inline constexpr std::uint16_t kHubVendorId = 0x2FE3;
inline constexpr std::uint16_t kSuperSpeedProductId = 0x0611;
inline constexpr std::uint16_t kHighSpeedProductId = 0x0610;
inline constexpr std::uint16_t kSecondSuperSpeedProductId = 0x0621;
inline constexpr std::uint16_t kSecondHighSpeedProductId = 0x0620;
inline constexpr std::uint16_t kImageVersion = 0x0102;
inline constexpr Milliseconds kTestRebootTime{1500};

// Port path "B-port" on this process's own bus number: the advisory lock files
// are named after the port path and live in a folder every process shares.
std::string testPortPath(int port);

std::vector<std::uint8_t> sampleImage(std::uint16_t version = kImageVersion);

// The hub the command-line tests put on the usbfs, on port 1, polled once a
// second while it restarts into ROM code; and the config.ini listing its IDs.
sim::SimulatedHubConfig commandLineHubConfig();
void writeCommandLineConfig(const std::filesystem::path& file);

// Faults where the next count requests of one kind end with outcome.
sim::HubFaults failing(sim::RequestKind kind, int count, sim::Outcome outcome);

class EmulatedHubTest : public ::testing::Test {
protected:
    EmulatedHubTest();
    ~EmulatedHubTest() override;

    // A supported hub running its flash code with the sample image, on the bus now.
    sim::SimulatedHub& addHub(int port = 1, bool superSpeed = true,
                              std::uint16_t productId = kSuperSpeedProductId,
                              std::uint16_t highSpeedProductId = kHighSpeedProductId);
    void addMouse(int port);

    // Starts libusb (after the testbed, as umockdev needs) and the connection.
    void startLibusb();

    velmora::testing::SimulatedHubs hubs_{{kHubVendorId, kSuperSpeedProductId, kHighSpeedProductId}};
    VirtualClock& virtualClock_ = hubs_.clock;
    sim::SimulatedBus& bus_ = hubs_.bus;
    SupportedDeviceTable& table_ = hubs_.table;
    std::unique_ptr<UsbfsTestbed> testbed_;
    std::unique_ptr<TestbedClock> clock_;
    std::unique_ptr<LibusbPlatform> platform_;
    std::unique_ptr<HubConnection> connection_;
};

}  // namespace velmora::usbfs::testing
