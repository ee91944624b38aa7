#pragma once
// SHA-256, as the history keeps it of each image written (so a quality engineer
// can tell two files of the same name and version apart) and the backups name
// their contents by it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

// 64 lowercase hex digits.
std::string sha256Hex(const std::uint8_t* bytes, std::size_t size);

// The length of the first prefix of bytes, at least from long, whose SHA-256 is
// hex; none when no prefix has it. (What an image of unknown length left in a
// flash whose rest is erased: one pass, a digest per length.)
std::optional<std::size_t> prefixWithSha256(const std::uint8_t* bytes, std::size_t size, std::size_t from,
                                            const std::string& hex);

}  // namespace velmora
