#pragma once
// Text from a file or an argument made safe to print on a terminal. A crafted
// image, definition file or path could otherwise carry escape sequences that move
// the cursor, retitle the window or rewrite what was printed before: C0 controls,
// DEL, and the C1 controls, both as single bytes 0x80-0x9F (which terminals in
// 8-bit mode obey) and as U+0080-U+009F encoded in UTF-8, all become '?'. Other
// UTF-8 characters and other bytes pass unchanged.
#include <string>
#include <string_view>

namespace velmora {

// keepLineBreaks leaves '\n' as it is, for texts of several lines.
std::string printableText(std::string_view text, bool keepLineBreaks = false);

}  // namespace velmora
