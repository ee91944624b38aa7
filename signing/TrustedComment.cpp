#include "signing/TrustedComment.h"

#include "app/PrintableText.h"
#include "app/TextAppend.h"
#include "signing/MinisignFormat.h"

namespace velmora::signing {
namespace {

constexpr char kFieldSeparator = '\t';
constexpr std::string_view kPrehashedMark = "hashed";
// Room left for the other fields of a comment: timestamp, file name and version.
constexpr std::size_t kLongestNoteBytes = kLongestCommentBytes / 2;

}  // namespace

std::string releaseComment(const ReleaseDetails& details) {
    std::string comment;
    appendText(comment,
               {"timestamp:", std::to_string(details.timestamp), "\tfile:", printableText(details.fileName)});
    if (!details.version.empty()) appendText(comment, {"\tversion:", details.version});
    if (!details.note.empty()) appendText(comment, {"\tcomment:", details.note});
    // A file name holds at most 255 bytes, so the line stays within a comment's length.
    return appendText(comment, {"\t", kPrehashedMark});
}

bool acceptableNote(std::string_view note) {
    return note.size() <= kLongestNoteBytes && printableText(note) == note;
}

std::optional<std::string> commentField(std::string_view comment, std::string_view name) {
    while (!comment.empty()) {
        const std::size_t end = std::min(comment.find(kFieldSeparator), comment.size());
        const std::string_view field = comment.substr(0, end);
        if (field.size() > name.size() && field.substr(0, name.size()) == name && field[name.size()] == ':')
            return std::string(field.substr(name.size() + 1));
        comment.remove_prefix(std::min(end + 1, comment.size()));
    }
    return std::nullopt;
}

std::string displayedComment(std::string_view comment) {
    std::string shown;
    for (const char character : comment) {
        if (character == kFieldSeparator) {
            shown += "  ";
        } else {
            shown += character;
        }
    }
    return printableText(shown);
}

bool commentNamesOtherFile(std::string_view comment, const std::string& imageFileName) {
    const std::optional<std::string> named = commentField(comment, "file");
    return named && *named != printableText(imageFileName);
}

}  // namespace velmora::signing
