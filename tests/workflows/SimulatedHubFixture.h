#pragma once
// One simulated hub on a simulated bus, in virtual time, behind a connection with
// the hub's IDs in its supported table.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/simulated/SampleImage.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedUsbPlatform.h"
#include "firmware/FirmwareBuffer.h"
#include "tests/workflows/RecordingReporter.h"
#include "workflows/WorkflowContext.h"

namespace velmora::testing {

inline constexpr std::uint16_t kVendorId = 0x2FE3;
inline constexpr std::uint16_t kSuperSpeedId = 0x0611;
inline constexpr std::uint16_t kHighSpeedId = 0x0610;

inline std::vector<std::uint8_t> sampleImage(std::size_t size, std::uint16_t version = 0x0102) {
    sim::SampleImageLayout layout;
    layout.vendorId = kVendorId;
    layout.superSpeedProductId = kSuperSpeedId;
    layout.highSpeedProductId = kHighSpeedId;
    layout.version = version;
    layout.size = size;
    return sim::makeSampleImage(layout);
}

class SimulatedHubFixture : public ::testing::Test {
protected:
    SimulatedHubFixture() : bus_(clock_), platform_(bus_) {
        table_.set(0, kVendorId, kSuperSpeedId, kHighSpeedId);
        sim::SimulatedHubConfig config;
        config.vendorId = kVendorId;
        config.superSpeedProductId = kSuperSpeedId;
        config.highSpeedProductId = kHighSpeedId;
        hub_ = &bus_.addHub(config);
        hub_->loadFlashImage(sampleImage(8192, 0x0100));
        connection_ = std::make_unique<HubConnection>(platform_, table_, clock_);
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

    VirtualClock clock_;
    sim::SimulatedBus bus_;
    sim::SimulatedUsbPlatform platform_;
    SupportedDeviceTable table_;
    sim::SimulatedHub* hub_ = nullptr;
    std::unique_ptr<HubConnection> connection_;
    RecordingReporter reporter_;
};

}  // namespace velmora::testing
