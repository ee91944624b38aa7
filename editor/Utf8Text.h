#pragma once
// Cutting typed text by characters or bytes without splitting a multi-byte UTF-8
// character: the hub stores the bytes, and half a character would show as garbage.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::editor {

// The text split into its characters, each one to four bytes.
std::vector<std::string_view> utf8Characters(std::string_view text);
// The first count characters.
std::string firstCharacters(std::string_view text, std::size_t count);
// Removes the last character; an empty text stays empty.
void removeLastCharacter(std::string& text);
// The longest start of the text that holds at most limit bytes and ends on a
// character boundary.
std::string firstBytes(std::string_view text, std::size_t limit);

}  // namespace velmora::editor
