#include "device/simulated/HubFaces.h"

namespace velmora::sim {

DeviceIdentity identityOf(const HubFace& face) {
    return {face.vendorId, face.productId, face.superSpeed,
            face.hasSerialNumber ? kSerialNumberStringIndex : std::uint8_t{0},
            face.kind == FaceKind::HubHalf};
}

}  // namespace velmora::sim
