#include "app/Hex.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace velmora {
namespace {

constexpr int kBase = 16;
constexpr std::array<std::size_t, 4> kUuidDashes = {8, 13, 18, 23};  // after 4, 6, 8 and 10 bytes
constexpr std::size_t kUuidTextLength = 36;

void toUpper(std::string& text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char character) { return static_cast<char>(std::toupper(character)); });
}

}  // namespace

std::string hexText(std::uint64_t value, std::size_t digits, HexCase letters) {
    char buffer[16];  // 64 bits are 16 digits
    const std::to_chars_result written = std::to_chars(std::begin(buffer), std::end(buffer), value, kBase);
    std::string text(buffer, written.ptr);
    if (text.size() < digits) text.insert(0, digits - text.size(), '0');
    if (letters == HexCase::Upper) toUpper(text);
    return text;
}

std::string hexIds(std::uint16_t vendorId, std::uint16_t productId, HexCase letters) {
    return hexText(vendorId, 4, letters) + ":" + hexText(productId, 4, letters);
}

std::string hexBytes(std::span<const std::uint8_t> bytes, HexCase letters, std::string_view separator) {
    std::string text;
    text.reserve(bytes.size() * (2 + separator.size()));
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index != 0) text += separator;
        text += hexText(bytes[index], 2, letters);
    }
    return text;
}

std::optional<std::uint64_t> parseHex(std::string_view text, std::size_t minDigits, std::size_t maxDigits) {
    if (text.empty() || text.size() < minDigits || text.size() > maxDigits) return std::nullopt;
    // For an unsigned number from_chars takes digits only (no sign, no prefix, no
    // space); the whole text must be read.
    std::uint64_t value = 0;
    const std::from_chars_result read = std::from_chars(text.data(), text.data() + text.size(), value, kBase);
    if (read.ec != std::errc() || read.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

bool isHexDigits(std::string_view text, std::optional<HexCase> only) {
    return std::all_of(text.begin(), text.end(), [only](unsigned char character) {
        if (std::isdigit(character)) return true;
        if (!std::isxdigit(character)) return false;
        return !only || (*only == HexCase::Upper ? std::isupper(character) : std::islower(character)) != 0;
    });
}

std::string uuidText(std::span<const std::uint8_t, 16> bytes) {
    std::string text = hexBytes(bytes, HexCase::Lower);
    for (const std::size_t dash : kUuidDashes) text.insert(dash, 1, '-');
    return text;
}

std::optional<std::array<std::uint8_t, 16>> uuidBytes(std::string_view text) {
    if (text.size() != kUuidTextLength) return std::nullopt;
    std::string digits(text);
    for (auto dash = kUuidDashes.rbegin(); dash != kUuidDashes.rend(); ++dash) {
        if (digits[*dash] != '-') return std::nullopt;
        digits.erase(*dash, 1);
    }
    const std::optional<std::vector<std::uint8_t>> read = bytesFromHex(digits);
    if (!read) return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    std::copy(read->begin(), read->end(), bytes.begin());
    return bytes;
}

std::optional<std::vector<std::uint8_t>> bytesFromHex(std::string_view text, std::string_view separator) {
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
    while (position < text.size()) {
        if (!bytes.empty()) {
            if (text.substr(position, separator.size()) != separator) return std::nullopt;
            position += separator.size();
        }
        const std::optional<std::uint64_t> byte = parseHexDigits(text.substr(position, 2), 2);
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*byte));
        position += 2;
    }
    return bytes;
}

}  // namespace velmora
