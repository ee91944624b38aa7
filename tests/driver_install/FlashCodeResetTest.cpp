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
    EXPECT_EQ(FlashCodeReset(connection).resetToFlashCode(), HubResetOutcome::InFlashCode);
    EXPECT_EQ(hub.runState(), sim::RunState::FlashCode);
    EXPECT_FALSE(connection.isOpen());
}

TEST_F(FlashCodeResetTest, HubInFlashCodeGoesThroughItsRomCodeAndBack) {
    sim::SimulatedHub& hub = addHub();
    EXPECT_EQ(FlashCodeReset(connection).resetToFlashCode(), HubResetOutcome::InFlashCode);
    EXPECT_EQ(hub.runState(), sim::RunState::FlashCode);
    std::vector<sim::RequestKind> resets;
    for (const sim::RecordedRequest& request : hub.requests()) {
        const sim::RequestKind kind = sim::classifyRequest(request.setup);
        if (kind == sim::RequestKind::ResetToRomCode || kind == sim::RequestKind::ResetToFlashCode)
            resets.push_back(kind);
    }
    EXPECT_EQ(resets, (std::vector<sim::RequestKind>{sim::RequestKind::ResetToRomCode,
                                                     sim::RequestKind::ResetToFlashCode}));
}

TEST_F(FlashCodeResetTest, NoHubIsQuietlyLeftAlone) {
    EXPECT_EQ(FlashCodeReset(connection).resetToFlashCode(), HubResetOutcome::NoHub);
    EXPECT_FALSE(connection.isOpen());
}

// A hub that never comes back may sit in its ROM code: the caller must hear of it.
TEST_F(FlashCodeResetTest, HubThatDoesNotComeBackIsReported) {
    sim::SimulatedHub& hub = addHubInRomCode();
    sim::HubFaults faults;
    faults.neverReturnsAfterReset = true;
    hub.setFaults(faults);
    EXPECT_EQ(FlashCodeReset(connection).resetToFlashCode(), HubResetOutcome::NotInFlashCode);
    EXPECT_FALSE(connection.isOpen());
}

}  // namespace
}  // namespace velmora::driver
