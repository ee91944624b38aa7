#include "device/recording/Base64.h"

namespace velmora::recording {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
    const std::size_t found = kAlphabet.find(c);
    return found == std::string_view::npos ? -1 : static_cast<int>(found);
}

}  // namespace

std::string toBase64(const std::uint8_t* bytes, std::size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t left = size - i;
        const std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16 |
                                    (left > 1 ? static_cast<std::uint32_t>(bytes[i + 1]) << 8 : 0) |
                                    (left > 2 ? bytes[i + 2] : 0);
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += left > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        out += left > 2 ? kAlphabet[group & 0x3F] : '=';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> fromBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = (text[i + 3] == '=') + (text[i + 2] == '=');
        if (padding > 0 && !last) return std::nullopt;
        if (text[i + 3] != '=' && text[i + 2] == '=') return std::nullopt;
        std::uint32_t group = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<std::size_t>(k)];
            const int value = (c == '=' && k >= 4 - padding) ? 0 : sextet(c);
            if (value < 0) return std::nullopt;
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) out.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1) out.push_back(static_cast<std::uint8_t>(group));
    }
    return out;
}

}  // namespace velmora::recording
