#include "device/simulated/HubDescriptors.h"

#include <algorithm>

namespace velmora::sim {

namespace {

constexpr std::uint8_t kDeviceDescriptorType = 0x01;
constexpr std::uint8_t kConfigurationDescriptorType = 0x02;
constexpr std::uint8_t kInterfaceDescriptorType = 0x04;
constexpr auto kDeviceDescriptorLength = static_cast<std::uint8_t>(kDeviceDescriptorBytes);
constexpr std::uint8_t kConfigurationDescriptorLength = 9;
constexpr std::uint8_t kInterfaceDescriptorLength = 9;
constexpr std::uint8_t kVendorSpecificClass = 0xFF;
constexpr std::uint16_t kSuperSpeedUsbVersion = 0x0320;
constexpr std::uint16_t kHighSpeedUsbVersion = 0x0210;
// A SuperSpeed endpoint 0 gives its packet size as a power of two.
constexpr std::uint8_t kSuperSpeedMaxPacketExponent = 9;
constexpr std::uint8_t kHighSpeedMaxPacket = 64;
constexpr std::uint16_t kDeviceRelease = 0x0100;
constexpr std::uint8_t kSelfPoweredAttributes = 0xC0;
constexpr std::uint8_t kMaxPowerUnits = 0;

void appendWord(std::vector<std::uint8_t>& bytes, std::uint16_t word) {
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
}

void appendDeviceDescriptor(std::vector<std::uint8_t>& bytes, const DeviceIdentity& identity) {
    bytes.push_back(kDeviceDescriptorLength);
    bytes.push_back(kDeviceDescriptorType);
    appendWord(bytes, identity.superSpeed ? kSuperSpeedUsbVersion : kHighSpeedUsbVersion);
    bytes.push_back(kVendorSpecificClass);  // class, subclass, protocol
    bytes.push_back(0);
    bytes.push_back(0);
    bytes.push_back(identity.superSpeed ? kSuperSpeedMaxPacketExponent : kHighSpeedMaxPacket);
    appendWord(bytes, identity.vendorId);
    appendWord(bytes, identity.productId);
    appendWord(bytes, kDeviceRelease);
    bytes.push_back(0);  // no manufacturer or product strings
    bytes.push_back(0);
    bytes.push_back(identity.serialNumberIndex);
    bytes.push_back(1);  // one configuration
}

// One configuration with one interface and no endpoints: everything the hub
// does goes over the default control pipe.
void appendConfiguration(std::vector<std::uint8_t>& bytes) {
    bytes.push_back(kConfigurationDescriptorLength);
    bytes.push_back(kConfigurationDescriptorType);
    appendWord(bytes, kConfigurationDescriptorLength + kInterfaceDescriptorLength);
    bytes.push_back(1);  // one interface
    bytes.push_back(kHubConfigurationValue);
    bytes.push_back(0);  // no configuration string
    bytes.push_back(kSelfPoweredAttributes);
    bytes.push_back(kMaxPowerUnits);

    bytes.push_back(kInterfaceDescriptorLength);
    bytes.push_back(kInterfaceDescriptorType);
    bytes.push_back(0);  // interface number
    bytes.push_back(0);  // alternate setting
    bytes.push_back(0);  // no endpoints
    bytes.push_back(kVendorSpecificClass);
    bytes.push_back(0);
    bytes.push_back(0);
    bytes.push_back(0);  // no interface string
}

constexpr std::uint8_t kStringType = 0x03;
constexpr std::uint16_t kLanguageEnglishUs = 0x0409;
// A descriptor's length byte caps a string at 126 UTF-16 units.
constexpr std::size_t kMostStringUnits = 126;

}  // namespace

std::vector<std::uint8_t> languageDescriptor() {
    std::vector<std::uint8_t> bytes = {4, kStringType};
    appendWord(bytes, kLanguageEnglishUs);
    return bytes;
}

std::vector<std::uint8_t> stringDescriptor(const std::string& text) {
    const std::size_t units = std::min(text.size(), kMostStringUnits);
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(2 + 2 * units), kStringType};
    for (std::size_t index = 0; index < units; ++index)
        appendWord(bytes, static_cast<std::uint8_t>(text[index]));
    return bytes;
}

std::vector<std::uint8_t> deviceDescriptors(const DeviceIdentity& identity) {
    std::vector<std::uint8_t> bytes;
    appendDeviceDescriptor(bytes, identity);
    appendConfiguration(bytes);
    return bytes;
}

}  // namespace velmora::sim
