#pragma once
// The hub class requests of one half of the simulated hub: its hub descriptor, the
// hub's and each port's status, the port features the hub driver sets and clears,
// and, on the SuperSpeed half, the hub depth. Its downstream ports stay empty: the
// virtual host controller routes each request by the device's own port number, so
// a device behind a hub it carries could not work. Nothing is ever connected, so no
// port ever changes, and the status endpoint never has anything to report.
#include <array>
#include <cstdint>
#include <optional>

#include "device/UsbPlatform.h"
#include "device/simulated/HubDescriptors.h"
#include "usbip/EndpointZeroAnswer.h"

namespace velmora::usbip {

class HubClassRequests {
public:
    explicit HubClassRequests(bool superSpeed) : superSpeed_(superSpeed) {}

    // A class request (bmRequestType 0x20, 0x23, 0xA0 or 0xA3); anything the hub
    // does not know is stalled.
    EndpointZeroAnswer answer(const UsbSetup& setup);
    // What SET_HUB_DEPTH told the SuperSpeed half, once the host has told it.
    std::optional<std::uint16_t> depth() const { return depth_; }
    bool portPowered(unsigned port) const {
        return port >= 1 && port <= powered_.size() && powered_[port - 1];
    }

private:
    EndpointZeroAnswer portRequest(const UsbSetup& setup);
    EndpointZeroAnswer hubRequest(const UsbSetup& setup);
    std::vector<std::uint8_t> portStatus(unsigned port) const;

    bool superSpeed_;
    std::array<bool, sim::kHubDownstreamPorts> powered_{};
    std::optional<std::uint16_t> depth_;
};

}  // namespace velmora::usbip
