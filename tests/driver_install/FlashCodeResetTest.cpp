#include "driver_install/FlashCodeReset.h"

#include <gtest/gtest.h>

#include "tests/support/HubRig.h"

namespace velmora::driver {
namespace {

class FlashCodeResetTest : public ::testing::Test, public testing::HubRig {
protected:
    sim::SimulatedHub& addHubInRomCode() {
        sim::SimulatedHub& hub = addHub();
        hub.setRunState(sim::RunState::RomCode);
        return hub;
    }
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
