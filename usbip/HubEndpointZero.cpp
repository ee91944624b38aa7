#include "usbip/HubEndpointZero.h"

#include <algorithm>

#include "device/simulated/HubDescriptors.h"

namespace velmora::usbip {

namespace {

constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kStandardType = 0x00;
constexpr std::uint8_t kClassType = 0x20;
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
constexpr std::uint8_t kStringDescriptor = 0x03;
constexpr std::uint8_t kBosDescriptor = 0x0F;
constexpr std::uint8_t kSelfPowered = 0x01;

}  // namespace

HubEndpointZero::HubEndpointZero(sim::SimulatedHub& hub, sim::HubFace face)
    : hub_(hub),
      enumeration_(hub.enumeration()),
      face_(std::move(face)),
      descriptors_(sim::deviceDescriptors(sim::identityOf(face_))) {
    if (face_.kind == sim::FaceKind::HubHalf) ports_.emplace(face_.superSpeed);
}

EndpointZeroAnswer HubEndpointZero::answer(const UsbSetup& setup, const std::vector<std::uint8_t>& outData) {
    switch (setup.bmRequestType & kTypeMask) {
        case kStandardType: return answerStandard(setup, outData);
        case kClassType: return ports_ ? ports_->answer(setup) : stalled();  // only a hub has class requests
        case kVendorType: return answerByModel(setup, outData);
        default: return stalled();
    }
}

EndpointZeroAnswer HubEndpointZero::answerStandard(const UsbSetup& setup,
                                                   const std::vector<std::uint8_t>& outData) {
    const bool toDevice = (setup.bmRequestType & kRecipientMask) == kDeviceRecipient;
    switch (setup.bRequest) {
        case kGetDescriptor: return descriptor(setup, outData);
        case kGetStatus: return sent({toDevice ? kSelfPowered : std::uint8_t{0}, 0}, setup.wLength);
        case kGetConfiguration: return sent({configuration_}, setup.wLength);
        case kSetConfiguration:
            if (setup.wValue != 0 && setup.wValue != sim::kHubConfigurationValue) return stalled();
            configuration_ = static_cast<std::uint8_t>(setup.wValue);
            return accepted();
        case kGetInterface:
            if (configuration_ == 0 || setup.wIndex != 0) return stalled();
            return sent({0}, setup.wLength);
        case kSetInterface:
            if (configuration_ == 0 || setup.wIndex != 0 || setup.wValue != 0) return stalled();
            return accepted();
        case kSetAddress:  // the virtual host controller answers it itself; harmless if it comes
        case kClearFeature:
        case kSetFeature:
        case kSetExitLatency:
        case kSetIsochronousDelay: return accepted();
        default: return stalled();
    }
}

// The strings come from the model, which knows the serial number the image gives
// the hub; the device qualifier and other-speed configuration are stalled, as a
// SuperSpeed device and a hub half on its own speed have none to give.
EndpointZeroAnswer HubEndpointZero::descriptor(const UsbSetup& setup,
                                               const std::vector<std::uint8_t>& outData) {
    const auto type = static_cast<std::uint8_t>(setup.wValue >> 8);
    const auto index = static_cast<std::uint8_t>(setup.wValue & 0xFF);
    const auto split = descriptors_.begin() + static_cast<std::ptrdiff_t>(sim::kDeviceDescriptorBytes);
    if (index == 0 && type == kDeviceDescriptor) return sent({descriptors_.begin(), split}, setup.wLength);
    if (index == 0 && type == kConfigurationDescriptor)
        return sent({split, descriptors_.end()}, setup.wLength);
    if (index == 0 && type == kBosDescriptor)
        return sent(sim::bosDescriptor(face_.superSpeed, face_.containerId), setup.wLength);
    if (type == kStringDescriptor) return answerByModel(setup, outData);
    return stalled();
}

EndpointZeroAnswer HubEndpointZero::answerByModel(const UsbSetup& setup,
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
        case sim::Outcome::Stalled: return stalled();
        case sim::Outcome::TimedOut: result.unanswered = true; return result;
        case sim::Outcome::NoDevice: result.status = -ENODEV; return result;
    }
    return stalled();
}

}  // namespace velmora::usbip
