#include "usbip/HubClassRequests.h"

namespace velmora::usbip {

namespace {

constexpr std::uint8_t kToHub = 0x20;
constexpr std::uint8_t kToPort = 0x23;
constexpr std::uint8_t kFromHub = 0xA0;
constexpr std::uint8_t kFromPort = 0xA3;

constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kSetFeature = 0x03;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kClearTtBuffer = 0x08;  // High-Speed, to the translator's port
constexpr std::uint8_t kResetTt = 0x09;        // High-Speed, to the translator's port
constexpr std::uint8_t kSetHubDepth = 0x0C;    // SuperSpeed

constexpr std::uint16_t kPortPowerFeature = 8;
// A hub below five tiers of hubs would be beyond what USB allows.
constexpr std::uint16_t kDeepestHub = 4;

// wPortStatus: the port's power, and for a SuperSpeed port its link state, which
// waits for a device (Rx.Detect) while powered and is SS.Disabled without power.
constexpr std::uint16_t kHighSpeedPortPower = 0x0100;
constexpr std::uint16_t kSuperSpeedPortPower = 0x0200;
constexpr std::uint16_t kLinkStateRxDetect = 0x00A0;
constexpr std::uint16_t kLinkStateDisabled = 0x0080;
constexpr std::size_t kStatusBytes = 4;  // the status word, then the change word

}  // namespace

EndpointZeroAnswer HubClassRequests::answer(const UsbSetup& setup) {
    if (setup.bmRequestType == kToPort || setup.bmRequestType == kFromPort) return portRequest(setup);
    if (setup.bmRequestType == kToHub || setup.bmRequestType == kFromHub) return hubRequest(setup);
    return stalled();
}

EndpointZeroAnswer HubClassRequests::hubRequest(const UsbSetup& setup) {
    const bool fromHub = setup.bmRequestType == kFromHub;
    if (fromHub && setup.bRequest == kGetDescriptor) {
        const auto type = static_cast<std::uint8_t>(setup.wValue >> 8);
        const std::uint8_t expected =
            superSpeed_ ? sim::kSuperSpeedHubDescriptorType : sim::kHighSpeedHubDescriptorType;
        if (type != expected || (setup.wValue & 0xFF) != 0) return stalled();
        return sent(sim::hubDescriptor(superSpeed_), setup.wLength);
    }
    // Local power is good and there is no over-current: nothing to report.
    if (fromHub && setup.bRequest == kGetStatus)
        return sent(std::vector<std::uint8_t>(kStatusBytes, 0), setup.wLength);
    if (fromHub) return stalled();
    switch (setup.bRequest) {
        case kSetFeature:
        case kClearFeature: return accepted();  // the hub's own change bits are never set
        case kSetHubDepth:
            if (!superSpeed_ || setup.wValue > kDeepestHub) return stalled();
            depth_ = setup.wValue;
            return accepted();
        default: return stalled();
    }
}

EndpointZeroAnswer HubClassRequests::portRequest(const UsbSetup& setup) {
    // The port is the low byte of wIndex; SuperSpeed features carry a value in its high byte.
    const unsigned port = setup.wIndex & 0xFF;
    if (port < 1 || port > powered_.size()) return stalled();
    if (setup.bmRequestType == kFromPort) {
        // wValue 0: the port status; the extended status belongs to faster hubs.
        if (setup.bRequest != kGetStatus || setup.wValue != 0) return stalled();
        return sent(portStatus(port), setup.wLength);
    }
    switch (setup.bRequest) {
        case kSetFeature:
        case kClearFeature:
            // An empty port: a reset, a suspend or a link state finds nothing to act
            // on, and clearing a change bit that was never set changes nothing.
            if (setup.wValue == kPortPowerFeature) powered_[port - 1] = setup.bRequest == kSetFeature;
            return accepted();
        case kClearTtBuffer:
        case kResetTt: return superSpeed_ ? stalled() : accepted();  // its one transaction translator
        default: return stalled();
    }
}

std::vector<std::uint8_t> HubClassRequests::portStatus(unsigned port) const {
    std::uint16_t status = 0;
    if (superSpeed_) {
        status = powered_[port - 1] ? kSuperSpeedPortPower | kLinkStateRxDetect : kLinkStateDisabled;
    } else if (powered_[port - 1]) {
        status = kHighSpeedPortPower;
    }
    return {static_cast<std::uint8_t>(status & 0xFF), static_cast<std::uint8_t>(status >> 8), 0, 0};
}

}  // namespace velmora::usbip
