#include "editor/BinaryView.h"

#include "app/Console.h"

#include <algorithm>
#include <cstdio>

namespace velmora::editor {

namespace {
constexpr std::size_t kBytesPerRow = 16;
constexpr std::size_t kRowMiddle = 7;
constexpr std::size_t kByteCharacters = 3;  // two digits and a space
constexpr std::size_t kDigitCharacters = 2;
}  // namespace

std::optional<BinaryViewText> ShowBinary(const FirmwareBuffer& flashPage, std::uint32_t offsetBegin,
                                         std::uint32_t offsetEnd, Console& console) {
    char line[80];
    std::snprintf(line, sizeof line, "offsetBegin :%u   ;   noffsetEnd :%u\n", offsetBegin, offsetEnd);
    console.line(line);
    if (!flashPage.hasBlock()) {
        return std::nullopt;
    }
    const std::uint32_t lower = std::min(offsetBegin, offsetEnd);
    const std::uint32_t higher = std::max(offsetBegin, offsetEnd);
    BinaryViewText view;
    std::optional<std::size_t> start;
    std::optional<std::size_t> end;
    for (std::size_t index = 0; index < image::kBlockBytes; ++index) {
        char cell[16];
        if (index % kBytesPerRow == 0) {
            std::snprintf(cell, sizeof cell, "%04zXh:", *flashPage.block + index);
            view.text += cell;
        }
        std::snprintf(cell, sizeof cell, "%02X ", flashPage.data[*flashPage.block + index]);
        view.text += cell;
        const std::size_t digits = view.text.size() - kByteCharacters;
        if (index == lower) {
            start = digits;
        }
        if (index == higher) {
            end = digits;
        }
        if (index == image::kBlockBytes - 1) {
            // A change of the last byte has its end one past the block.
            const std::size_t afterLastDigits = digits + kDigitCharacters;
            start = start.value_or(afterLastDigits);
            end = end.value_or(afterLastDigits);
        }
        if (index % kBytesPerRow == kRowMiddle) {
            view.text += "- ";
        } else if (index % kBytesPerRow == kBytesPerRow - 1) {
            view.text += "\n";
        }
    }
    view.highlightStart = *start;
    view.highlightLength = *end - *start;
    return view;
}

}  // namespace velmora::editor
