#include "device/SerialString.h"

#include <array>
#include <vector>

#include "device/UsbConnection.h"

using namespace velmora::standard;

namespace velmora {

std::optional<std::string> serialFromStringDescriptor(const std::uint8_t* bytes, std::size_t length) {
    if (length < kStringHeadBytes || bytes[0] != length || bytes[1] != kStringDescriptorType ||
        length % 2 != 0)
        return std::nullopt;
    std::string text;
    for (std::size_t at = kStringHeadBytes; at + 1 < length; at += 2) {
        const unsigned unit = bytes[at] | static_cast<unsigned>(bytes[at + 1]) << 8;
        text += unit < 0x100 ? static_cast<char>(unit) : '?';
    }
    return text;
}

}  // namespace velmora

namespace {

IOReturn readDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language, std::uint8_t* data,
                        std::uint16_t length, velmora::HubConnection& connection) {
    const auto value = static_cast<std::uint16_t>(type << 8 | index);
    return USB_DeviceRequest(kDeviceToHost, kRequestGetDescriptor, value, language, length, data, connection);
}

}  // namespace

std::optional<std::string> USB_ReadSerialNumber(velmora::HubConnection& connection) {
    std::array<std::uint8_t, kDeviceDescriptorLength> device{};
    if (readDescriptor(kDeviceDescriptorType, 0, 0, device.data(), kDeviceDescriptorLength, connection) !=
        kIOReturnSuccess)
        return std::nullopt;
    const std::uint8_t index = device[kSerialNumberIndexOffset];
    if (index == 0) return std::nullopt;
    // The platforms take an answer shorter than asked for as an underrun, so the
    // string's own length comes first.
    std::array<std::uint8_t, kStringHeadBytes> head{};
    if (readDescriptor(kStringDescriptorType, index, kLanguageEnglishUs, head.data(), kStringHeadBytes,
                       connection) != kIOReturnSuccess ||
        head[0] < kStringHeadBytes)
        return std::nullopt;
    std::vector<std::uint8_t> whole(head[0]);
    if (readDescriptor(kStringDescriptorType, index, kLanguageEnglishUs, whole.data(),
                       static_cast<std::uint16_t>(whole.size()), connection) != kIOReturnSuccess)
        return std::nullopt;
    return velmora::serialFromStringDescriptor(whole.data(), whole.size());
}
