#pragma once
// Endpoint 0 of one face of the simulated hub (one of its halves, or its ROM
// code's device) in one enumeration, as the USB/IP server shows it to the kernel.
// The standard requests of enumeration (descriptors, address, configuration,
// status, features) are answered here from the face's descriptors, and the hub
// class requests of a hub half by its ports; the strings and every vendor request
// go to the model itself, the same SimulatedHub the in-process and usbfs transports
// drive, whichever face they came through.
#include <cstdint>
#include <optional>
#include <vector>

#include "device/UsbPlatform.h"
#include "device/simulated/SimulatedHub.h"
#include "usbip/EndpointZeroAnswer.h"
#include "usbip/HubClassRequests.h"

namespace velmora::usbip {

class HubEndpointZero {
public:
    // Bound to the hub's enumeration current now, showing face.
    HubEndpointZero(sim::SimulatedHub& hub, sim::HubFace face);

    std::uint64_t enumeration() const { return enumeration_; }
    const sim::HubFace& face() const { return face_; }
    bool configured() const { return configuration_ != 0; }
    // The hub half's status endpoint: configured, and a hub.
    bool hasStatusEndpoint() const { return configured() && ports_.has_value(); }
    const std::optional<HubClassRequests>& ports() const { return ports_; }

    // outData holds the data stage of a host-to-device request.
    EndpointZeroAnswer answer(const UsbSetup& setup, const std::vector<std::uint8_t>& outData);

private:
    EndpointZeroAnswer answerStandard(const UsbSetup& setup, const std::vector<std::uint8_t>& outData);
    EndpointZeroAnswer answerByModel(const UsbSetup& setup, const std::vector<std::uint8_t>& outData);
    EndpointZeroAnswer descriptor(const UsbSetup& setup, const std::vector<std::uint8_t>& outData);

    sim::SimulatedHub& hub_;
    std::uint64_t enumeration_;
    sim::HubFace face_;
    std::vector<std::uint8_t> descriptors_;
    std::optional<HubClassRequests> ports_;  // a hub half's
    std::uint8_t configuration_ = 0;
};

}  // namespace velmora::usbip
