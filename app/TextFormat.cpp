#include "app/TextFormat.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace velmora {

std::string formatText(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text;
    if (length > 0) {
        std::vector<char> characters(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(characters.data(), characters.size(), format, arguments);
        text.assign(characters.data(), static_cast<std::size_t>(length));
    }
    va_end(arguments);
    return text;
}

}  // namespace velmora
