#pragma once
// The fingerprint the history keeps of each image written: its SHA-256, so a
// quality engineer can tell two files of the same name and version apart.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::history {

// 64 lowercase hex digits.
std::string sha256Hex(const std::uint8_t* bytes, std::size_t size);

}  // namespace velmora::history
