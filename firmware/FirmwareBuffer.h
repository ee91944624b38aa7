#pragma once
// One firmware image in memory: the owned bytes and the positions of the
// configuration block and its identity fields. Positions are offsets into data,
// so writers change the image itself when they store through them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::image {
inline constexpr std::size_t kBlockBytes = 256;
inline constexpr std::size_t kMinimumImageBytes = 256;
inline constexpr std::ptrdiff_t kVersionOffset = -7;
inline constexpr std::size_t kVidOffset = 2;
inline constexpr std::size_t kSspidOffset = 4;
inline constexpr std::size_t kHspidOffset = 6;
inline constexpr std::size_t kIdEditFlagOffset = 10;
inline constexpr std::size_t kStringEditFlagsOffset = 42;
inline constexpr std::size_t kStringsOffset = 43;
inline constexpr std::uint32_t kStringsLength = 35;
inline constexpr std::size_t kContainerIdOffset = 78;
inline constexpr std::uint32_t kContainerIdLength = 16;
inline constexpr std::size_t kTextCapacity = 64;  // the display texts hold at most 63 bytes
}  // namespace velmora::image

struct FirmwareBuffer {
    bool loaded = false;
    std::vector<std::uint8_t> data;
    std::optional<std::size_t> block;  // where the block signature lies
    std::size_t strings = 0;
    std::size_t containerID = 0;
    std::int32_t size = 0;
    std::uint32_t stringsLength = 0;
    std::uint32_t containerIDLength = 0;
    std::size_t vid = 0;
    std::size_t sspid = 0;
    std::size_t hspid = 0;
    // Seven bytes before the signature; unset when the block lies closer than that
    // to the start of the image.
    std::optional<std::size_t> version;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string containerIDText;

    // The byte at a block offset 0..255; only valid while loaded.
    std::uint8_t& blockByte(std::size_t offset) { return data.at(*block + offset); }
    std::uint8_t blockByte(std::size_t offset) const { return data.at(*block + offset); }
};

// Reads the whole file and parses it. A file that cannot be opened or read, or is
// empty, or larger than a signed 32-bit size, leaves the buffer untouched.
bool FW_LoadFile(FirmwareBuffer& buffer, const std::string& path);
// Copies the bytes into the buffer and locates the fields; true when a
// configuration block was found.
bool FW_Parse(FirmwareBuffer& buffer, const std::uint8_t* bytes, std::int64_t length);
