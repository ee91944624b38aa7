#pragma once
// printf-style formatting into a string of whatever length the text needs, for the
// formats kept with the messages.
#include <string>

namespace velmora {

std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace velmora
