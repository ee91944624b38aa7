#include "editor/Utf8Text.h"

namespace velmora::editor {

namespace {
constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuationBits = 0x80;

bool isContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & kContinuationMask) == kContinuationBits;
}
}  // namespace

std::vector<std::string_view> utf8Characters(std::string_view text) {
    std::vector<std::string_view> characters;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t next = start + 1;
        while (next < text.size() && isContinuation(text[next])) {
            ++next;
        }
        characters.push_back(text.substr(start, next - start));
        start = next;
    }
    return characters;
}

std::string firstCharacters(std::string_view text, std::size_t count) {
    std::size_t bytes = 0;
    const std::vector<std::string_view> characters = utf8Characters(text);
    for (std::size_t index = 0; index < count && index < characters.size(); ++index) {
        bytes += characters[index].size();
    }
    return std::string(text.substr(0, bytes));
}

void removeLastCharacter(std::string& text) {
    while (!text.empty()) {
        const bool wasLead = !isContinuation(text.back());
        text.pop_back();
        if (wasLead) {
            return;
        }
    }
}

std::string firstBytes(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return std::string(text);
    }
    std::size_t end = limit;
    while (end > 0 && isContinuation(text[end])) {
        --end;
    }
    return std::string(text.substr(0, end));
}

}  // namespace velmora::editor
