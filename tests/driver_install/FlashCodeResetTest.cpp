#include <gtest/gtest.h>

#include "app/SupportedDeviceTable.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/simulated/SampleImage.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedHub.h"
#include "device/simulated/SimulatedUsbPlatform.h"
#include "driver_install/FlashCodeReset.h"

namespace velmora::driver {
namespace {

constexpr std::uint16_t kVendorId = 0x1A2B;
constexpr std::uint16_t kSuperSpeedId = 0x3C4D;
constexpr std::uint16_t kHighSpeedId = 0x5E6F;

class FlashCodeResetTest : public ::testing::Test {
protected:
    FlashCodeResetTest() { table.set(0, kVendorId, kSuperSpeedId, kHighSpeedId); }

    sim::SimulatedHub& addHubInRomCode() {
        sim::SimulatedHubConfig config;
        config.vendorId = kVendorId;
        config.superSpeedProductId = kSuperSpeedId;
        config.highSpeedProductId = kHighSpeedId;
        sim::SimulatedHub& hub = bus.addHub(config);
        sim::SampleImageLayout image;
        image.vendorId = kVendorId;
        image.superSpeedProductId = kSuperSpeedId;
        image.highSpeedProductId = kHighSpeedId;
        hub.loadFlashImage(sim::makeSampleImage(image));
        hub.setRunState(sim::RunState::RomCode);
        return hub;
    }

    VirtualClock clock;
    sim::SimulatedBus bus{clock};
    sim::SimulatedUsbPlatform platform{bus};
    SupportedDeviceTable table;
    HubConnection connection{platform, table, clock};
};

TEST_F(FlashCodeResetTest, HubInRomCodeRestartsIntoFlashCodeAndIsClosed) {
    sim::SimulatedHub& hub = addHubInRomCode();
    FlashCodeReset(connection).resetToFlashCode();
    EXPECT_EQ(hub.runState(), sim::RunState::FlashCode);
    EXPECT_FALSE(connection.isOpen());
}

TEST_F(FlashCodeResetTest, NoHubIsQuietlyLeftAlone) {
    FlashCodeReset(connection).resetToFlashCode();
    EXPECT_FALSE(connection.isOpen());
}

}  // namespace
}  // namespace velmora::driver
