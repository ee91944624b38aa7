#pragma once
// The trusted comment: one line of tab-separated "name:value" fields, as both
// tools write it ("timestamp:1796796748<TAB>file:fw.bin<TAB>hashed"). Velmora adds
// the image's firmware version, so whoever verifies sees which release it is,
// and the signer's own note.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::signing {

struct ReleaseDetails {
    std::int64_t timestamp = 0;  // seconds since 1970, UTC
    std::string fileName;        // the image's name, without its folder
    std::string version;         // four hex digits; empty when the image has none
    std::string note;            // the signer's own words; empty: none
};

// "timestamp:T<TAB>file:NAME<TAB>version:XXXX<TAB>comment:TEXT<TAB>hashed". Control
// characters in the file name become '?', so the comment stays one line.
std::string releaseComment(const ReleaseDetails& details);

// True when note can go into a trusted comment: one line without control
// characters, short enough for the comment to stay within what either tool reads.
bool acceptableNote(std::string_view note);

// The value of the first "name:value" field of the comment, when it has one.
std::optional<std::string> commentField(std::string_view comment, std::string_view name);

// The comment as a window or terminal shows it: its fields apart by two blanks,
// any other control character as '?'.
std::string displayedComment(std::string_view comment);

// The file a comment names ("file:NAME"), to tell an image that does not match its
// signature from a signature made for another file. printable(name) is compared.
bool commentNamesOtherFile(std::string_view comment, const std::string& imageFileName);

}  // namespace velmora::signing
