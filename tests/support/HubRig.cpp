#include "tests/support/HubRig.h"

#include "device/simulated/SampleImage.h"

namespace velmora::testing {

SimulatedHubs::SimulatedHubs(HubIdentity hubIdentity) : identity(hubIdentity) {
    table.set(0, identity.vid, identity.sspid, identity.hspid);
}

sim::SimulatedHub& SimulatedHubs::addHub(const RigHubOptions& options) {
    sim::SimulatedHubConfig config;
    config.vendorId = identity.vid;
    config.superSpeedProductId = options.superSpeedProductId ? options.superSpeedProductId : identity.sspid;
    config.highSpeedProductId = options.highSpeedProductId ? options.highSpeedProductId : identity.hspid;
    config.enumeratesAsSuperSpeed = options.superSpeed;
    config.portPath = options.portPath;
    config.rebootTime = options.rebootTime;
    config.flashTiming = options.flashTiming;
    sim::SimulatedHub& hub = bus.addHub(config);
    if (options.inFlashCode) hub.loadFlashImage(sampleImage(options.imageBytes, options.imageVersion));
    return hub;
}

std::vector<std::uint8_t> sampleImageFor(HubIdentity identity, std::size_t size, std::uint16_t version) {
    sim::SampleImageLayout layout;
    layout.vendorId = identity.vid;
    layout.superSpeedProductId = identity.sspid;
    layout.highSpeedProductId = identity.hspid;
    layout.version = version;
    layout.size = size;
    return sim::makeSampleImage(layout);
}

std::vector<std::uint8_t> tenThousandByteImage(HubIdentity identity) {
    std::vector<std::uint8_t> image = sampleImageFor(identity, 10240, 0x0203);
    image.erase(image.begin(), image.begin() + 240);
    return image;
}

std::vector<std::uint8_t> SimulatedHubs::sampleImage(std::size_t size, std::uint16_t version) const {
    return sampleImageFor(identity, size, version);
}

std::vector<std::array<std::uint8_t, 8>> SimulatedHubs::wireOf(const sim::SimulatedHub& hub) {
    std::vector<std::array<std::uint8_t, 8>> wire;
    for (const sim::RecordedRequest& request : hub.requests()) wire.push_back(request.wireBytes);
    return wire;
}

void SimulatedHubs::failNext(sim::SimulatedHub& hub, sim::RequestKind kind, int count, sim::Outcome outcome) {
    sim::HubFaults faults = hub.faults();
    faults.failures.push_back({kind, count, outcome});
    hub.setFaults(faults);
}

}  // namespace velmora::testing
