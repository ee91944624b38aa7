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

#include "device/HubConnection.h"
#include "tests/support/HubRig.h"

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

inline std::vector<Milliseconds> ms(std::initializer_list<long> values) {
    std::vector<Milliseconds> result;
    for (long value : values) result.emplace_back(value);
    return result;
}

inline constexpr testing::HubIdentity kDeviceTestIdentity{kVendorId, kSuperSpeedId, kHighSpeedId};

// A bus with the test hub identity in the supported table.
class SimulatedRig : public ::testing::Test, public testing::HubRig {
protected:
    SimulatedRig() : HubRig(kDeviceTestIdentity) {}

    sim::SimulatedHub& addHub(bool inFlashCode = true, std::string port = "1-1",
                              Milliseconds rebootTime = testing::kRigRebootTime) {
        testing::RigHubOptions options;
        options.inFlashCode = inFlashCode;
        options.portPath = std::move(port);
        options.rebootTime = rebootTime;
        options.imageVersion = kImageVersion;
        return HubRig::addHub(options);
    }

    std::vector<std::uint8_t> sampleImage(std::size_t size = 8192,
                                          std::uint16_t version = kImageVersion) const {
        return HubRig::sampleImage(size, version);
    }
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
    std::vector<Milliseconds> timeouts;  // the limit each request was sent with

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
        IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data, Milliseconds timeout) override {
            owner.timeouts.push_back(timeout);
            SentRequest request{setup.wireBytes(), {}};
            if (!setup.isDeviceToHost() && data) request.outData.assign(data, data + setup.wLength);
            owner.sent.push_back(request);
            if (owner.answers.empty()) return kIOReturnSuccess;
            ScriptedAnswer answer = owner.answers.front();
            owner.answers.pop_front();
            if (setup.isDeviceToHost() && data)
                for (std::size_t i = 0; i < answer.data.size() && i < setup.wLength; ++i)
                    data[i] = answer.data[i];
            return answer.status;
        }
        ScriptedPlatform& owner;
    };
};

}  // namespace velmora::devicetest
