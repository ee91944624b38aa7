#pragma once
// Text is built by appending its pieces in turn, never as "literal" +
// std::string(...): GCC 12 at -O3 wrongly warns (-Wrestrict, a false overlap
// inside std::string's operator+) on that form, and warnings are errors here.
#include <initializer_list>
#include <string>
#include <string_view>

namespace velmora {

// Appends every piece to text, in order; returns text.
std::string& appendText(std::string& text, std::initializer_list<std::string_view> pieces);

}  // namespace velmora
