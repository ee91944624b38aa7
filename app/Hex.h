#pragma once
// Hexadecimal text, one way for the whole program: a number as a fixed count of
// digits, bytes as pairs of digits, and back. Messages whose wording fixes a printf
// format ("fwVer:%04x") keep it; everything else comes here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum class HexCase { Upper, Lower };

// value as at least `digits` digits, zero-padded: hexText(0x2FE3, 4) is "2FE3".
std::string hexText(std::uint64_t value, std::size_t digits, HexCase letters = HexCase::Upper);

// A USB device's IDs as "2FE3:0611": vendor and product ID, four digits each.
std::string hexIds(std::uint16_t vendorId, std::uint16_t productId, HexCase letters = HexCase::Upper);

// bytes as pairs of digits with `separator` between them: "C0 09 00".
std::string hexBytes(std::span<const std::uint8_t> bytes, HexCase letters = HexCase::Upper,
                     std::string_view separator = {});

// The number text writes in hex digits of either case, minDigits to maxDigits of
// them and nothing else (no sign, no "0x", no space); nothing otherwise.
std::optional<std::uint64_t> parseHex(std::string_view text, std::size_t minDigits, std::size_t maxDigits);
inline std::optional<std::uint64_t> parseHexDigits(std::string_view text, std::size_t digits) {
    return parseHex(text, digits, digits);
}

// Whether every character of text is a hex digit (of the case given, else of
// either); true for no text.
bool isHexDigits(std::string_view text, std::optional<HexCase> only = std::nullopt);

// 16 bytes in a UUID's groups of 8-4-4-4-12 digits, lower case:
// "01a25518-8500-7000-8000-00000000002a".
std::string uuidText(std::span<const std::uint8_t, 16> bytes);
// The bytes of such a text (digits of either case); nothing for any other text.
std::optional<std::array<std::uint8_t, 16>> uuidBytes(std::string_view text);

// Bytes from pairs of hex digits with `separator` between them, as hexBytes writes
// them; nothing when the text holds anything else.
std::optional<std::vector<std::uint8_t>> bytesFromHex(std::string_view text, std::string_view separator = {});

}  // namespace velmora
