#pragma once
// UTF-8 as this program accepts it: overlong forms, surrogates and code points
// past U+10FFFF are not UTF-8. Texts that leave the program for a reader that
// needs UTF-8 (JSON, the metrics' exposition) are checked or mended here.
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// The length (1 to 4) of the valid UTF-8 character that starts at index, or 0
// when the bytes there start none.
std::size_t utf8SequenceLength(std::string_view bytes, std::size_t index);

bool isValidUtf8(std::string_view bytes);

// The text with each byte that starts no valid character replaced by U+FFFD,
// the replacement character; valid text comes back unchanged.
std::string withValidUtf8(std::string_view bytes);

}  // namespace velmora
