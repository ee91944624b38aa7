#include "app/PrintableText.h"

#include <cstddef>

namespace velmora {
namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kFirstC1 = 0x80;
constexpr unsigned char kLastC1 = 0x9F;
constexpr unsigned char kC1LeadByte = 0xC2;  // U+0080-U+009F are C2 80 to C2 9F in UTF-8
constexpr char kReplacement = '?';

bool isC1(unsigned char byte) {
    return byte >= kFirstC1 && byte <= kLastC1;
}

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence of two to four bytes at index, or 0
// when none starts there (a stray byte, taken on its own).
std::size_t sequenceLength(std::string_view text, std::size_t index) {
    const auto lead = static_cast<unsigned char>(text[index]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (index + length > text.size()) return 0;
    for (std::size_t offset = 1; offset < length; ++offset) {
        if (!isContinuation(static_cast<unsigned char>(text[index + offset]))) return 0;
    }
    return length;
}

}  // namespace

std::string printableText(std::string_view text, bool keepLineBreaks) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t index = 0; index < text.size();) {
        const auto byte = static_cast<unsigned char>(text[index]);
        const std::size_t length = sequenceLength(text, index);
        if (length > 0) {
            const bool encodedC1 = byte == kC1LeadByte && isC1(static_cast<unsigned char>(text[index + 1]));
            shown += encodedC1 ? std::string_view(&kReplacement, 1) : text.substr(index, length);
            index += length;
            continue;
        }
        if (byte == '\n' && keepLineBreaks) {
            shown += '\n';
        } else if (byte < 0x20 || byte == kDelete || isC1(byte)) {
            shown += kReplacement;
        } else {
            shown += text[index];
        }
        ++index;
    }
    return shown;
}

}  // namespace velmora
