#pragma once
// The test rig every hub test starts from: simulated hubs on a simulated bus in
// virtual time, the supported table listing their identity, a sample image, and a
// connection over the in-process platform. The emulated-usbfs tests take the bus
// half and put libusb in front of it instead.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedUsbPlatform.h"

namespace velmora::testing {

struct HubIdentity {
    std::uint16_t vid = 0;
    std::uint16_t sspid = 0;
    std::uint16_t hspid = 0;
};

// The IDs of the shipped config.ini's first entry and of the shipped sample image.
inline constexpr HubIdentity kShippedHubIdentity{0x2FE3, 0x0611, 0x0610};
inline constexpr Milliseconds kRigRebootTime = sim::kDefaultRebootTime;

// A valid image with this identity.
std::vector<std::uint8_t> sampleImageFor(HubIdentity identity, std::size_t size = 8192,
                                         std::uint16_t version = 0x0102);
// A 10000-byte image of version 0203: the sample's block kept a whole number of
// blocks from the end, off the 256-byte pages the hub's boot code looks at.
// Written whole, it leaves the hub in its ROM code.
std::vector<std::uint8_t> tenThousandByteImage(HubIdentity identity = kShippedHubIdentity);

struct RigHubOptions {
    bool inFlashCode = true;  // with a sample image in flash, else blank and in ROM code
    std::string portPath = "1-1";
    Milliseconds rebootTime = kRigRebootTime;
    std::uint16_t imageVersion = 0x0102;
    std::size_t imageBytes = 8192;
    bool superSpeed = true;
    std::uint16_t superSpeedProductId = 0;  // 0: the identity's
    std::uint16_t highSpeedProductId = 0;
    sim::FlashTiming flashTiming{};  // the model's busy times; none by default
};

// Simulated hubs of one identity on a bus in virtual time, listed in the table.
class SimulatedHubs {
public:
    explicit SimulatedHubs(HubIdentity identity = kShippedHubIdentity);
    SimulatedHubs(const SimulatedHubs&) = delete;
    SimulatedHubs& operator=(const SimulatedHubs&) = delete;

    sim::SimulatedHub& addHub(const RigHubOptions& options = {});
    // A valid image with this rig's identity.
    std::vector<std::uint8_t> sampleImage(std::size_t size = 8192, std::uint16_t version = 0x0102) const;
    // The wire bytes of every request the hub saw, in order.
    static std::vector<std::array<std::uint8_t, 8>> wireOf(const sim::SimulatedHub& hub);
    // Makes the next count requests of one kind end with outcome.
    static void failNext(sim::SimulatedHub& hub, sim::RequestKind kind, int count,
                         sim::Outcome outcome = sim::Outcome::Stalled);

    HubIdentity identity;
    VirtualClock clock;
    SupportedDeviceTable table;
    sim::SimulatedBus bus{clock};
};

// The same with the in-process platform and a connection to drive the hubs.
class HubRig : public SimulatedHubs {
public:
    explicit HubRig(HubIdentity identity = kShippedHubIdentity) : SimulatedHubs(identity) {}

    sim::SimulatedUsbPlatform platform{bus};
    HubConnection connection{platform, table, clock};
};

}  // namespace velmora::testing
