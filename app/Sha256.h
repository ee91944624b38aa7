#pragma once
// SHA-256, as the history keeps it of each image written (so a quality engineer
// can tell two files of the same name and version apart) and the backups name
// their contents by it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

// 64 lowercase hex digits.
std::string sha256Hex(const std::uint8_t* bytes, std::size_t size);

}  // namespace velmora
