#pragma once
// Where things lie in a firmware image. The hub reads its identity and settings
// from a 256-byte configuration block that starts with one of three signatures;
// every offset here counts from the block's first byte, except the version, which
// lies just before the block. The buffer, the editor, the save, the simulated hub
// and the sample-image builder all take the layout from here.
#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora::image {

inline constexpr std::size_t kBlockBytes = 256;
inline constexpr std::size_t kMinimumImageBytes = 256;
inline constexpr std::array<std::array<std::uint8_t, 2>, 3> kBlockSignatures = {{
    {0xAA, 0x55},
    {0x3C, 0xC3},
    {0x55, 0xAA},
}};

// The firmware version: two bytes, high byte first, seven bytes before the block.
inline constexpr std::size_t kVersionBeforeBlock = 7;

// The USB identity, each a 16-bit number stored high byte first.
inline constexpr std::size_t kVidOffset = 2;
inline constexpr std::size_t kSspidOffset = 4;
inline constexpr std::size_t kHspidOffset = 6;

// Edit flags: which identity fields the hub takes from the block instead of its ROM defaults.
inline constexpr std::size_t kIdEditFlagOffset = 10;
inline constexpr std::size_t kStringEditFlagsOffset = 42;

// Manufacturer, product and serial number as string descriptor entries (a length
// byte counting the entry's own two head bytes, the descriptor type, the text)
// packed one after another into a 35-byte area.
inline constexpr std::size_t kStringsOffset = 43;
inline constexpr std::uint32_t kStringsLength = 35;
inline constexpr std::size_t kStringEntryHeadBytes = 2;
inline constexpr std::uint8_t kStringDescriptorType = 0x03;
inline constexpr int kStringEntryCount = 3;
// The most text the three entries can hold together: the area less three heads.
inline constexpr std::size_t kMaximumStringBytes = kStringsLength - kStringEntryCount * kStringEntryHeadBytes;

// The container ID: 16 bytes, shown as a braced UUID text.
inline constexpr std::size_t kContainerIdOffset = 78;
inline constexpr std::uint32_t kContainerIdLength = 16;

// The display texts of a buffer hold at most 63 bytes.
inline constexpr std::size_t kTextCapacity = 64;

}  // namespace velmora::image
