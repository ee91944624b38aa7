#include "cli/JsonText.h"

#include "app/GeneralFunction.h"
#include "workflows/TextFormat.h"

namespace velmora::cli {

std::string jsonString(std::string_view text) {
    // Image strings are raw bytes; ones that are not UTF-8 are shown byte by byte,
    // so the output stays valid JSON.
    const bool utf8 = isValidUtf8(text);
    std::string quoted = "\"";
    for (const char character : text) {
        switch (character) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default: {
                const auto byte = static_cast<unsigned char>(character);
                if (byte < 0x20 || (byte >= 0x80 && !utf8)) {
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
