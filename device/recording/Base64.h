#pragma once
// Transfer data in a recording: base64 (RFC 4648, with padding), a third
// smaller than hex, so a whole update with its read-back stays small.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::recording {

std::string toBase64(const std::uint8_t* bytes, std::size_t size);
// Null when the text is not base64.
std::optional<std::vector<std::uint8_t>> fromBase64(std::string_view text);

}  // namespace velmora::recording
