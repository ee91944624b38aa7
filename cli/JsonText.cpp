#include "cli/JsonText.h"

#include "app/TextFormat.h"
#include "app/Utf8.h"

namespace velmora::cli {
namespace {

constexpr unsigned char kDelete = 0x7F;

// U+0080-U+009F, the C1 controls, are C2 80 to C2 9F in UTF-8.
bool encodedC1(std::string_view text, std::size_t index) {
    return static_cast<unsigned char>(text[index]) == 0xC2 && index + 1 < text.size() &&
           static_cast<unsigned char>(text[index + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[index + 1]) <= 0x9F;
}

}  // namespace

std::string jsonString(std::string_view text) {
    // Image strings are raw bytes; ones that are not UTF-8 are shown byte by byte,
    // so the output stays valid JSON. Controls are escaped, C1 and DEL included, so
    // printing the JSON on a terminal cannot drive it.
    const bool utf8 = isValidUtf8(text);
    std::string quoted = "\"";
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char character = text[index];
        if (utf8 && encodedC1(text, index)) {
            quoted += formatText("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(text[++index])));
            continue;
        }
        switch (character) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default: {
                const auto byte = static_cast<unsigned char>(character);
                if (byte < 0x20 || byte == kDelete || (byte >= 0x80 && !utf8)) {
                    quoted += formatText("\\u%04x", static_cast<unsigned>(byte));
                } else {
                    quoted += character;
                }
            }
        }
    }
    return quoted + "\"";
}

}  // namespace velmora::cli
