#pragma once
// printf-style formatting into a string of whatever length the text needs, for the
// formats kept with the messages; and the one reader of whole numbers in options.
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The decimal whole number text spells, when it is one from least to most;
// nothing for a sign, a space, another character or a number out of range.
std::optional<std::uint64_t> wholeNumber(const std::string& text, std::uint64_t least, std::uint64_t most);

}  // namespace velmora
