#pragma once
// The hex view of the configuration block: 16 rows of 16 bytes, each row labelled
// with its position in the whole image, and the range of characters to paint red.
#include "firmware/FirmwareBuffer.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {
class Console;
}

namespace velmora::editor {

struct BinaryViewText {
    std::string text;
    std::size_t highlightStart = 0;   // character offset of the lower byte's first digit
    std::size_t highlightLength = 0;  // up to the higher byte's first digit; 0 paints nothing
};

// The view for the changed block bytes [min(begin, end), max(begin, end)); nothing
// when no image is loaded, in which case the view keeps its old text. An end beyond
// the last byte stops after that byte's two digits.
std::optional<BinaryViewText> ShowBinary(const FirmwareBuffer& flashPage, std::uint32_t offsetBegin,
                                         std::uint32_t offsetEnd, Console& console);

}  // namespace velmora::editor
