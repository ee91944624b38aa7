#pragma once
// One simulated hub of the shipped identity on the shared rig, and a reporter
// that records what a run shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "firmware/FirmwareBuffer.h"
#include "tests/support/HubRig.h"
#include "tests/workflows/RecordingReporter.h"
#include "workflows/WorkflowContext.h"

namespace velmora::testing {

inline constexpr std::uint16_t kVendorId = kShippedHubIdentity.vid;
inline constexpr std::uint16_t kSuperSpeedId = kShippedHubIdentity.sspid;
inline constexpr std::uint16_t kHighSpeedId = kShippedHubIdentity.hspid;

inline std::vector<std::uint8_t> sampleImage(std::size_t size, std::uint16_t version = 0x0102) {
    return sampleImageFor(kShippedHubIdentity, size, version);
}

class SimulatedHubFixture : public ::testing::Test {
protected:
    // timing: the hub's busy times; none by default, so tests count requests only.
    explicit SimulatedHubFixture(sim::FlashTiming timing = {}) {
        RigHubOptions options;
        options.imageVersion = 0x0100;
        options.flashTiming = timing;
        hub_ = &rig_.addHub(options);
    }

    WorkflowContext context() { return WorkflowContext{reporter_, *connection_, nullptr}; }

    FirmwareBuffer parsed(const std::vector<std::uint8_t>& bytes) {
        FirmwareBuffer buffer;
        FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()));
        return buffer;
    }

    // Every run ends with the buttons on again and the hub closed.
    void expectCleanEnding() {
        EXPECT_TRUE(reporter_.buttonsEnabled);
        EXPECT_FALSE(connection_->isOpen());
    }

    HubRig rig_;
    VirtualClock& clock_ = rig_.clock;
    sim::SimulatedBus& bus_ = rig_.bus;
    sim::SimulatedUsbPlatform& platform_ = rig_.platform;
    SupportedDeviceTable& table_ = rig_.table;
    sim::SimulatedHub* hub_ = nullptr;
    HubConnection* connection_ = &rig_.connection;
    RecordingReporter reporter_;
};

}  // namespace velmora::testing
