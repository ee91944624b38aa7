#pragma once
// Test set-ups for the device layer: simulated hubs on a simulated bus in virtual
// time, and a scripted device for checking exact bytes against chosen answers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/simulated/SampleImage.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedUsbPlatform.h"

namespace velmora::devicetest {

using Wire = std::array<std::uint8_t, 8>;

inline constexpr std::uint16_t kVendorId = 0x1A2B;
inline constexpr std::uint16_t kSuperSpeedId = 0x3C4D;
inline constexpr std::uint16_t kHighSpeedId = 0x5E6F;
inline constexpr std::uint16_t kImageVersion = 0x0207;

inline constexpr Wire kHandshake = {0x40, 0x02, 0x01, 0x00, 0x7A, 0x2E, 0x00, 0x00};
inline constexpr Wire kStatusRead = {0xC0, 0x09, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00};
inline constexpr Wire kResetToRom = {0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
inline constexpr Wire kResetToFlash = {0x40, 0xE9, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00};
inline constexpr Wire kErase = {0x40, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

inline std::vector<std::uint8_t> sampleImage(std::size_t size = 8192, std::uint16_t version = kImageVersion) {
    sim::SampleImageLayout layout;
    layout.vendorId = kVendorId;
    layout.superSpeedProductId = kSuperSpeedId;
    layout.highSpeedProductId = kHighSpeedId;
    layout.version = version;
    layout.size = size;
    return sim::makeSampleImage(layout);
}

inline std::vector<Wire> wireOf(const sim::SimulatedHub& hub) {
    std::vector<Wire> wire;
    for (const sim::RecordedRequest& request : hub.requests()) wire.push_back(request.wireBytes);
    return wire;
}

inline std::vector<Milliseconds> ms(std::initializer_list<long> values) {
    std::vector<Milliseconds> result;
    for (long value : values) result.emplace_back(value);
    return result;
}

// A bus with the test hub identity in the supported table.
class SimulatedRig : public ::testing::Test {
protected:
    SimulatedRig() : bus(clock), platform(bus) { table.set(0, kVendorId, kSuperSpeedId, kHighSpeedId); }

    sim::SimulatedHub& addHub(bool inFlashCode = true, std::string port = "1-1",
                              Milliseconds rebootTime = Milliseconds{1500}) {
        sim::SimulatedHubConfig config;
        config.vendorId = kVendorId;
        config.superSpeedProductId = kSuperSpeedId;
        config.highSpeedProductId = kHighSpeedId;
        config.portPath = std::move(port);
        config.rebootTime = rebootTime;
        sim::SimulatedHub& hub = bus.addHub(config);
        if (inFlashCode) hub.loadFlashImage(sampleImage());
        return hub;
    }

    static void failNext(sim::SimulatedHub& hub, sim::RequestKind kind, int count,
                         sim::Outcome outcome = sim::Outcome::Stalled) {
        sim::HubFaults faults = hub.faults();
        faults.failures.push_back({kind, count, outcome});
        hub.setFaults(faults);
    }

    VirtualClock clock;
    SupportedDeviceTable table;
    sim::SimulatedBus bus;
    sim::SimulatedUsbPlatform platform;
    HubConnection connection{platform, table, clock};
};

// One device that records what it is sent and answers from a script.
struct ScriptedAnswer {
    IOReturn status = kIOReturnSuccess;
    std::vector<std::uint8_t> data;  // copied into device-to-host data stages
};

struct SentRequest {
    Wire wire;
    std::vector<std::uint8_t> outData;
};

class ScriptedPlatform final : public UsbPlatform {
public:
    std::vector<SentRequest> sent;
    std::deque<ScriptedAnswer> answers;  // when empty: success with no data

    std::vector<UsbDeviceInfo> listDevices() override {
        return {UsbDeviceInfo{kVendorId, kSuperSpeedId, "1-1", "001/002"}};
    }
    OpenResult openDevice(const UsbDeviceInfo&) override {
        return {std::make_unique<Device>(*this), kIOReturnSuccess};
    }
    bool setHotplugCallback(HotplugCallback) override { return false; }
    void pollEvents(std::chrono::milliseconds) override {}

private:
    struct Device final : UsbDevice {
        explicit Device(ScriptedPlatform& owner) : owner(owner) {}
        IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data) override {
            SentRequest request{setup.wireBytes(), {}};
            if (!setup.isDeviceToHost() && data) request.outData.assign(data, data + setup.wLength);
            owner.sent.push_back(request);
            if (owner.answers.empty()) return kIOReturnSuccess;
            ScriptedAnswer answer = owner.answers.front();
            owner.answers.pop_front();
            if (setup.isDeviceToHost() && data)
                for (std::size_t i = 0; i < answer.data.size() && i < setup.wLength; ++i) data[i] = answer.data[i];
            return answer.status;
        }
        ScriptedPlatform& owner;
    };
};

}  // namespace velmora::devicetest
