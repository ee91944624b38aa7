#include "usbip/HubEndpointZero.h"

#include <algorithm>
#include <cerrno>

#include "device/simulated/HubDescriptors.h"

namespace velmora::usbip {

namespace {

constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kStandardType = 0x00;
constexpr std::uint8_t kVendorType = 0x40;
constexpr std::uint8_t kRecipientMask = 0x1F;
constexpr std::uint8_t kDeviceRecipient = 0x00;

constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kSetFeature = 0x03;
constexpr std::uint8_t kSetAddress = 0x05;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kSetConfiguration = 0x09;
constexpr std::uint8_t kGetInterface = 0x0A;
constexpr std::uint8_t kSetInterface = 0x0B;
constexpr std::uint8_t kSetExitLatency = 0x30;       // SET_SEL, SuperSpeed
constexpr std::uint8_t kSetIsochronousDelay = 0x31;  // SuperSpeed

constexpr std::uint8_t kDeviceDescriptor = 0x01;
constexpr std::uint8_t kConfigurationDescriptor = 0x02;
constexpr std::uint8_t kSelfPowered = 0x01;

EndpointZeroAnswer stall() {
    EndpointZeroAnswer result;
    result.status = -EPIPE;
    return result;
}

EndpointZeroAnswer sent(std::vector<std::uint8_t> bytes, std::uint16_t wLength) {
    if (bytes.size() > wLength) bytes.resize(wLength);
    EndpointZeroAnswer result;
    result.actualLength = static_cast<std::int32_t>(bytes.size());
    result.data = std::move(bytes);
    return result;
}

EndpointZeroAnswer accepted() {
    return {};
}

}  // namespace

HubEndpointZero::HubEndpointZero(sim::SimulatedHub& hub)
    : hub_(hub),
      enumeration_(hub.enumeration()),
      superSpeed_(hub.config().enumeratesAsSuperSpeed),
      descriptors_(sim::deviceDescriptors({hub.vendorId(), hub.productId(), superSpeed_})) {}

EndpointZeroAnswer HubEndpointZero::answer(const UsbSetup& setup, const std::vector<std::uint8_t>& outData) {
    switch (setup.bmRequestType & kTypeMask) {
        case kStandardType: return answerStandard(setup);
        case kVendorType: return answerVendor(setup, outData);
        default: return stall();  // the hub has no class requests
    }
}

EndpointZeroAnswer HubEndpointZero::answerStandard(const UsbSetup& setup) {
    const bool toDevice = (setup.bmRequestType & kRecipientMask) == kDeviceRecipient;
    switch (setup.bRequest) {
        case kGetDescriptor: return descriptor(setup);
        case kGetStatus: return sent({toDevice ? kSelfPowered : std::uint8_t{0}, 0}, setup.wLength);
        case kGetConfiguration: return sent({configuration_}, setup.wLength);
        case kSetConfiguration:
            if (setup.wValue != 0 && setup.wValue != sim::kHubConfigurationValue) return stall();
            configuration_ = static_cast<std::uint8_t>(setup.wValue);
            return accepted();
        case kGetInterface:
            if (configuration_ == 0 || setup.wIndex != 0) return stall();
            return sent({0}, setup.wLength);
        case kSetInterface:
            if (configuration_ == 0 || setup.wIndex != 0 || setup.wValue != 0) return stall();
            return accepted();
        case kSetAddress:  // the virtual host controller answers it itself; harmless if it comes
        case kClearFeature:
        case kSetFeature:
        case kSetExitLatency:
        case kSetIsochronousDelay: return accepted();
        default: return stall();
    }
}

// Strings, the BOS and the device qualifier are stalled: the hub has no strings,
// and without a BOS the host leaves link power management off.
EndpointZeroAnswer HubEndpointZero::descriptor(const UsbSetup& setup) const {
    const auto type = static_cast<std::uint8_t>(setup.wValue >> 8);
    const auto index = static_cast<std::uint8_t>(setup.wValue & 0xFF);
    const auto split = descriptors_.begin() + static_cast<std::ptrdiff_t>(sim::kDeviceDescriptorBytes);
    if (type == kDeviceDescriptor && index == 0) return sent({descriptors_.begin(), split}, setup.wLength);
    if (type == kConfigurationDescriptor && index == 0)
        return sent({split, descriptors_.end()}, setup.wLength);
    return stall();
}

EndpointZeroAnswer HubEndpointZero::answerVendor(const UsbSetup& setup,
                                                 const std::vector<std::uint8_t>& outData) {
    std::vector<std::uint8_t> data(setup.wLength, 0);
    if (!setup.isDeviceToHost())
        std::copy_n(outData.begin(), std::min(outData.size(), data.size()), data.begin());
    const sim::ControlAnswer model = hub_.handleControlOn(enumeration_, setup, data.data());
    EndpointZeroAnswer result;
    switch (model.outcome) {
        case sim::Outcome::Completed:
            if (setup.isDeviceToHost()) {
                data.resize(std::min<std::size_t>(model.actualLength, data.size()));
                return sent(std::move(data), setup.wLength);
            }
            result.actualLength = std::min<std::int32_t>(model.actualLength, setup.wLength);
            return result;
        case sim::Outcome::Stalled: return stall();
        case sim::Outcome::TimedOut: result.unanswered = true; return result;
        case sim::Outcome::NoDevice: result.status = -ENODEV; return result;
    }
    return stall();
}

}  // namespace velmora::usbip
