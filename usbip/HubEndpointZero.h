#pragma once
// Endpoint 0 of one enumeration of the simulated hub, as the USB/IP server shows
// it to the kernel. The standard requests of enumeration (descriptors, address,
// configuration, status, features) are answered here from the hub's descriptors,
// since the model knows only the chip's vendor requests; every vendor request goes
// to the model itself, the same SimulatedHub the in-process and usbfs transports
// drive.
#include <cstdint>
#include <vector>

#include "device/UsbPlatform.h"
#include "device/simulated/SimulatedHub.h"

namespace velmora::usbip {

struct EndpointZeroAnswer {
    // 0 or a negative errno for the URB (-EPIPE for a stall, -ENODEV for a hub
    // that left the bus).
    std::int32_t status = 0;
    // The transfer stays in flight, unanswered, as with a hub that never replies:
    // the host's timeout takes it back with an unlink.
    bool unanswered = false;
    // The data stage: for a device-to-host request, what the hub sent (its size is
    // the actual length); for a host-to-device one, empty.
    std::vector<std::uint8_t> data;
    std::int32_t actualLength = 0;
};

class HubEndpointZero {
public:
    // Bound to the hub's enumeration current now, with the identity it shows now.
    explicit HubEndpointZero(sim::SimulatedHub& hub);

    std::uint64_t enumeration() const { return enumeration_; }
    bool superSpeed() const { return superSpeed_; }

    // outData holds the data stage of a host-to-device request.
    EndpointZeroAnswer answer(const UsbSetup& setup, const std::vector<std::uint8_t>& outData);

private:
    EndpointZeroAnswer answerStandard(const UsbSetup& setup);
    EndpointZeroAnswer answerVendor(const UsbSetup& setup, const std::vector<std::uint8_t>& outData);
    EndpointZeroAnswer descriptor(const UsbSetup& setup) const;

    sim::SimulatedHub& hub_;
    std::uint64_t enumeration_;
    bool superSpeed_;
    std::vector<std::uint8_t> descriptors_;
    std::uint8_t configuration_ = 0;
};

}  // namespace velmora::usbip
