#include "app/ShellEscape.h"

namespace velmora {
namespace {

constexpr std::string_view kEscapedCharacters = " !\"$&'()*,:;<=>?@[\\]^`{|}";
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

}  // namespace

std::string ShellEscapePath(std::string_view path) {
    std::string escaped;
    escaped.reserve(path.size() * 2);
    for (const char character : path) {
        if (kEscapedCharacters.find(character) != std::string_view::npos) escaped.push_back('\\');
        escaped.push_back(character);
    }
    return escaped;
}

bool holdsControlCharacters(std::string_view path) {
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < kFirstPrintable || byte == kDelete) return true;
    }
    return false;
}

}  // namespace velmora
