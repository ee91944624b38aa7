#pragma once
// One firmware image in memory: the owned bytes and the positions of the
// configuration block and its identity fields (firmware/ImageLayout.h).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/ImageLayout.h"

// block, strings, containerID, vid, sspid, hspid and version are positions in
// data, not values: writers store through them into the image itself. The names
// are the ones the hub's documentation and the editor's texts use.
struct FirmwareBuffer {
    // Set only by FW_Parse, when data holds a whole configuration block.
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

    // True when the buffer holds an image with a whole configuration block: the one
    // test every reader and editor of the block uses.
    bool hasBlock() const { return loaded && block && *block + velmora::image::kBlockBytes <= data.size(); }

    // The byte at a block offset 0..255; only valid while hasBlock().
    std::uint8_t& blockByte(std::size_t offset) { return data.at(*block + offset); }
    std::uint8_t blockByte(std::size_t offset) const { return data.at(*block + offset); }
};

// Reads the whole file and parses it. A file that cannot be opened or read, is not
// a regular file (a FIFO or device is refused without blocking), is empty, or is
// larger than a signed 32-bit size, leaves the buffer untouched.
bool FW_LoadFile(FirmwareBuffer& buffer, const std::string& path);
// Copies the bytes into the buffer and locates the fields; true when a
// configuration block was found. The texts are those of these bytes alone: a
// string entry the image lacks reads empty.
bool FW_Parse(FirmwareBuffer& buffer, const std::uint8_t* bytes, std::int64_t length);
