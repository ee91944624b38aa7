#include "device/simulated/HubDescriptors.h"

#include <algorithm>

namespace velmora::sim {

namespace {

constexpr std::uint8_t kDeviceDescriptorType = 0x01;
constexpr std::uint8_t kConfigurationDescriptorType = 0x02;
constexpr std::uint8_t kInterfaceDescriptorType = 0x04;
constexpr std::uint8_t kEndpointDescriptorType = 0x05;
constexpr std::uint8_t kBosDescriptorType = 0x0F;
constexpr std::uint8_t kDeviceCapabilityType = 0x10;
constexpr std::uint8_t kEndpointCompanionType = 0x30;
constexpr auto kDeviceDescriptorLength = static_cast<std::uint8_t>(kDeviceDescriptorBytes);
constexpr std::uint8_t kConfigurationDescriptorLength = 9;
constexpr std::uint8_t kInterfaceDescriptorLength = 9;
constexpr std::uint8_t kEndpointDescriptorLength = 7;
constexpr std::uint8_t kEndpointCompanionLength = 6;
constexpr std::uint8_t kVendorSpecificClass = 0xFF;
constexpr std::uint8_t kHubClass = 0x09;
// bDeviceProtocol of a hub: a High-Speed hub with one transaction translator, or a SuperSpeed hub.
constexpr std::uint8_t kHighSpeedSingleTtProtocol = 1;
constexpr std::uint8_t kSuperSpeedHubProtocol = 3;
constexpr std::uint16_t kSuperSpeedUsbVersion = 0x0320;
constexpr std::uint16_t kHighSpeedUsbVersion = 0x0210;
// A SuperSpeed endpoint 0 gives its packet size as a power of two.
constexpr std::uint8_t kSuperSpeedMaxPacketExponent = 9;
constexpr std::uint8_t kHighSpeedMaxPacket = 64;
constexpr std::uint16_t kDeviceRelease = 0x0100;
constexpr std::uint8_t kSelfPoweredAttributes = 0xC0;
constexpr std::uint8_t kMaxPowerUnits = 0;
constexpr std::uint8_t kInterruptTransfer = 0x03;
// The status change bitmap: one bit for the hub and one per port, in whole bytes;
// a SuperSpeed hub sends two bytes whatever its port count.
constexpr std::uint16_t kHighSpeedStatusBytes = (kHubDownstreamPorts + 1 + 7) / 8;
constexpr std::uint16_t kSuperSpeedStatusBytes = 2;
constexpr std::uint8_t kStatusIntervalExponent = 12;  // 2^11 microframes: 256 ms
constexpr std::uint8_t kHubControllerCurrent = 100;   // mA (High-Speed) or 4 mA units (SuperSpeed)
constexpr std::uint8_t kHubHeaderDecodeLatency = 4;   // 0.4 us
constexpr std::uint16_t kHubDelayNanoseconds = 100;
constexpr std::uint8_t kUsb2ExtensionCapability = 0x02;
constexpr std::uint8_t kSuperSpeedCapability = 0x03;
constexpr std::uint8_t kContainerIdCapability = 0x04;
constexpr std::uint16_t kSpeedsFullHighSuper = 0x000E;
constexpr std::uint8_t kAllFunctionsAtFullSpeed = 1;

void appendWord(std::vector<std::uint8_t>& bytes, std::uint16_t word) {
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
}

void appendDeviceDescriptor(std::vector<std::uint8_t>& bytes, const DeviceIdentity& identity) {
    bytes.push_back(kDeviceDescriptorLength);
    bytes.push_back(kDeviceDescriptorType);
    appendWord(bytes, identity.superSpeed ? kSuperSpeedUsbVersion : kHighSpeedUsbVersion);
    if (identity.hubClass) {
        bytes.insert(
            bytes.end(),
            {kHubClass, 0, identity.superSpeed ? kSuperSpeedHubProtocol : kHighSpeedSingleTtProtocol});
    } else {
        bytes.insert(bytes.end(), {kVendorSpecificClass, 0, 0});
    }
    bytes.push_back(identity.superSpeed ? kSuperSpeedMaxPacketExponent : kHighSpeedMaxPacket);
    appendWord(bytes, identity.vendorId);
    appendWord(bytes, identity.productId);
    appendWord(bytes, kDeviceRelease);
    bytes.push_back(0);  // no manufacturer or product strings
    bytes.push_back(0);
    bytes.push_back(identity.serialNumberIndex);
    bytes.push_back(1);  // one configuration
}

void appendStatusEndpoint(std::vector<std::uint8_t>& bytes, bool superSpeed) {
    const std::uint16_t statusBytes = superSpeed ? kSuperSpeedStatusBytes : kHighSpeedStatusBytes;
    bytes.insert(bytes.end(), {kEndpointDescriptorLength, kEndpointDescriptorType, kHubStatusEndpoint,
                               kInterruptTransfer});
    appendWord(bytes, statusBytes);
    bytes.push_back(kStatusIntervalExponent);
    if (!superSpeed) return;
    bytes.insert(bytes.end(), {kEndpointCompanionLength, kEndpointCompanionType, 0, 0});  // no bursts
    appendWord(bytes, statusBytes);
}

// One configuration with one interface: the hub interface with its status endpoint,
// or the ROM code's vendor-specific one with none, where everything goes over the
// default control pipe.
void appendConfiguration(std::vector<std::uint8_t>& bytes, const DeviceIdentity& identity) {
    const std::size_t start = bytes.size();
    bytes.insert(bytes.end(), {kConfigurationDescriptorLength, kConfigurationDescriptorType, 0, 0});
    bytes.push_back(1);  // one interface
    bytes.push_back(kHubConfigurationValue);
    bytes.push_back(0);  // no configuration string
    bytes.push_back(kSelfPoweredAttributes);
    bytes.push_back(kMaxPowerUnits);

    bytes.push_back(kInterfaceDescriptorLength);
    bytes.push_back(kInterfaceDescriptorType);
    bytes.push_back(0);  // interface number
    bytes.push_back(0);  // alternate setting
    bytes.push_back(identity.hubClass ? 1 : 0);
    bytes.push_back(identity.hubClass ? kHubClass : kVendorSpecificClass);
    bytes.push_back(0);
    bytes.push_back(0);
    bytes.push_back(0);  // no interface string
    if (identity.hubClass) appendStatusEndpoint(bytes, identity.superSpeed);

    const auto total = static_cast<std::uint16_t>(bytes.size() - start);
    bytes[start + 2] = static_cast<std::uint8_t>(total & 0xFF);
    bytes[start + 3] = static_cast<std::uint8_t>(total >> 8);
}

constexpr std::uint8_t kStringType = 0x03;
constexpr std::uint16_t kLanguageEnglishUs = 0x0409;
// A descriptor's length byte caps a string at 126 UTF-16 units.
constexpr std::size_t kMostStringUnits = 126;

}  // namespace

std::vector<std::uint8_t> hubDescriptor(bool superSpeed) {
    // No port is fixed to the hub: every DeviceRemovable bit is 0.
    std::vector<std::uint8_t> bytes{
        0, superSpeed ? kSuperSpeedHubDescriptorType : kHighSpeedHubDescriptorType, kHubDownstreamPorts};
    appendWord(bytes, kHubCharacteristics);
    bytes.push_back(kHubPowerOnToGoodUnits);
    bytes.push_back(kHubControllerCurrent);
    if (superSpeed) {
        bytes.push_back(kHubHeaderDecodeLatency);
        appendWord(bytes, kHubDelayNanoseconds);
        appendWord(bytes, 0);  // DeviceRemovable: bit 0 for the hub, one bit per port
    } else {
        bytes.push_back(0);     // DeviceRemovable
        bytes.push_back(0xFF);  // PortPwrCtrlMask, kept for USB 1.0 hosts: all ones
    }
    bytes[0] = static_cast<std::uint8_t>(bytes.size());
    return bytes;
}

std::vector<std::uint8_t> bosDescriptor(bool superSpeed, const std::optional<ContainerId>& containerId) {
    std::vector<std::uint8_t> bytes{5, kBosDescriptorType, 0, 0, 0};
    bytes.insert(bytes.end(), {7, kDeviceCapabilityType, kUsb2ExtensionCapability, 0, 0, 0, 0});
    std::uint8_t capabilities = 1;
    if (superSpeed) {
        bytes.insert(bytes.end(), {10, kDeviceCapabilityType, kSuperSpeedCapability, 0});
        appendWord(bytes, kSpeedsFullHighSuper);
        bytes.insert(bytes.end(), {kAllFunctionsAtFullSpeed, 0, 0, 0});  // no U1 or U2 exit latency
        ++capabilities;
    }
    if (containerId) {
        bytes.insert(bytes.end(), {20, kDeviceCapabilityType, kContainerIdCapability, 0});
        bytes.insert(bytes.end(), containerId->begin(), containerId->end());
        ++capabilities;
    }
    bytes[2] = static_cast<std::uint8_t>(bytes.size() & 0xFF);
    bytes[3] = static_cast<std::uint8_t>(bytes.size() >> 8);
    bytes[4] = capabilities;
    return bytes;
}

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
    appendConfiguration(bytes, identity);
    return bytes;
}

}  // namespace velmora::sim
