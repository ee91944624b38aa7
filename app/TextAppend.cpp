#include "app/TextAppend.h"

namespace velmora {

std::string& appendText(std::string& text, std::initializer_list<std::string_view> pieces) {
    for (const std::string_view piece : pieces) text.append(piece);
    return text;
}

}  // namespace velmora
