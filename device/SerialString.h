#pragma once
// The serial number a hub reports of itself: its serial-number string descriptor,
// reached through the standard GET_DESCRIPTOR request on the default control pipe
// (the device descriptor names the string's index). The hub's flash code takes the
// string from the configuration block of the image it booted, so reading it after
// an update shows what the unit now tells every host.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "device/HubConnection.h"

namespace velmora::standard {
inline constexpr std::uint8_t kDeviceToHost = 0x80;
inline constexpr std::uint8_t kRequestGetDescriptor = 0x06;
inline constexpr std::uint8_t kDeviceDescriptorType = 0x01;
inline constexpr std::uint8_t kStringDescriptorType = 0x03;
inline constexpr std::uint16_t kDeviceDescriptorLength = 18;
// Where the device descriptor keeps the index of the serial-number string (0: none).
inline constexpr std::size_t kSerialNumberIndexOffset = 16;
// US English, the language every hub of this family answers in.
inline constexpr std::uint16_t kLanguageEnglishUs = 0x0409;
inline constexpr std::size_t kStringHeadBytes = 2;
}  // namespace velmora::standard

namespace velmora {

// The text of a string descriptor: each UTF-16 unit below 256 becomes the byte of
// that value (the hub widens every byte of the image's 8-bit text so), anything
// else '?'. None when the bytes are no string descriptor.
std::optional<std::string> serialFromStringDescriptor(const std::uint8_t* bytes, std::size_t length);

}  // namespace velmora

// The serial number the open hub reports: its device descriptor, then the length
// and the whole of the string it names (three requests, each exactly as long as
// its answer). None when the hub has no serial-number string or a request fails.
std::optional<std::string> USB_ReadSerialNumber(velmora::HubConnection& connection);
