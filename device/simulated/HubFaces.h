#pragma once
// One hub chip, one or two USB devices. In its flash code the Zelo Hub is a USB 3
// hub, and a USB 3 hub is two USB devices to a host: its SuperSpeed half (SSPID)
// on the connector's SuperSpeed port and its High-Speed half (HSPID) on the
// High-Speed port wired to the same connector, each a hub of its own with the same
// downstream ports, and both with the container ID of the configuration block in
// their BOS, which tells a host that they are one device. On a USB 2 port only the
// High-Speed half comes up. In its ROM code the chip has no hub function: its boot
// code brings up one vendor-specific device on the link it has (SuperSpeed where
// there is one) under the IDs the chip was made with, so the updater finds it
// again on the port it was reset from, and no kernel driver but Brennic claims it.
// A transport shows each face as a device of its own; the vendor requests reach the
// chip through any of them.
#include <cstdint>
#include <optional>
#include <vector>

#include "device/simulated/HubDescriptors.h"

namespace velmora::sim {

enum class FaceKind { HubHalf, RomDevice };

struct HubFace {
    FaceKind kind = FaceKind::RomDevice;
    bool superSpeed = true;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::optional<ContainerId> containerId;  // the hub halves', from the configuration block
    bool hasSerialNumber = false;

    bool operator==(const HubFace&) const = default;
};

// The identity its descriptors show.
DeviceIdentity identityOf(const HubFace& face);

}  // namespace velmora::sim
