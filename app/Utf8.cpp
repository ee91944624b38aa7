#include "app/Utf8.h"

namespace velmora {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace

std::size_t utf8SequenceLength(std::string_view bytes, std::size_t index) {
    const auto lead = static_cast<unsigned char>(bytes[index]);
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t codePoint = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (index + length > bytes.size()) return 0;
    for (std::size_t next = 1; next < length; ++next) {
        const auto byte = static_cast<unsigned char>(bytes[index + next]);
        if ((byte & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t index = 0; index < bytes.size();) {
        const std::size_t length = utf8SequenceLength(bytes, index);
        if (length == 0) return false;
        index += length;
    }
    return true;
}

std::string withValidUtf8(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    std::string mended;
    for (std::size_t index = 0; index < bytes.size();) {
        const std::size_t length = utf8SequenceLength(bytes, index);
        if (length == 0) {
            mended += kReplacementCharacter;
            ++index;
        } else {
            mended += bytes.substr(index, length);
            index += length;
        }
    }
    return mended;
}

}  // namespace velmora
