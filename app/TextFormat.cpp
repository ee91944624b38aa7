#include "app/TextFormat.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
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

std::optional<std::uint64_t> wholeNumber(const std::string& text, std::uint64_t least, std::uint64_t most) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text.front() == '-' || *end != '\0' || errno != 0 || number < least || number > most)
        return std::nullopt;
    return number;
}

}  // namespace velmora
