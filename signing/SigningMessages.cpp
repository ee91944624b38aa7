#include "signing/SigningMessages.h"

#include "app/PrintableText.h"
#include "app/TextAppend.h"
#include "signing/MinisignFormat.h"
#include "signing/SignatureVerdict.h"
#include "signing/TrustedComment.h"

namespace velmora::signing::messages {

std::string keysNotUsed(const std::string& detail) {
    return "trusted keys not used: " + detail;
}

std::string notAKeyId(std::size_t line, std::string_view text) {
    std::string message;
    return appendText(message, {"line ", std::to_string(line), ": '", printableText(text),
                                "' is not a key ID (up to sixteen hex digits)"});
}

std::string benchKeysRefused(const std::string& configFolder) {
    std::string message;
    return appendText(message, {"--trusted-keys is refused: the configuration requires signed images "
                                "(RequireSigned), whose keys are those of ",
                                configFolder, "/trusted-keys"});
}

std::string benchFolderUnusable(const std::string& folder, const std::string& reason) {
    std::string message;
    return appendText(message, {"--trusted-keys: cannot use '", folder, "': ", reason});
}

std::string unsignedRefused(const std::string& image, const std::string& signatureFile) {
    std::string message;
    return appendText(message, {image, " is not signed (no ", signatureFile,
                                "), and signed images are required (RequireSigned)"});
}

std::string signatureUnusable(const std::string& signatureFile, const std::string& reason) {
    std::string message;
    return appendText(message, {"cannot use the signature ", signatureFile, ": ", reason});
}

std::string revocationListUnusable(const std::string& problem) {
    std::string message;
    return appendText(message,
                      {"the list of revoked keys cannot be used, so no signature is trusted: ", problem});
}

std::string revokedKey(const std::string& image, const std::string& keyId, const std::string& list) {
    std::string message;
    return appendText(message, {image, " is signed by key ", keyId, ", which is revoked (", list, ")"});
}

std::string unknownKey(const std::string& image, const std::string& keyId,
                       const std::vector<std::string>& folders) {
    std::string message;
    appendText(message, {image, " is signed by key ", keyId, ", which is not trusted (no such key in "});
    for (std::size_t index = 0; index < folders.size(); ++index)
        appendText(message, {index == 0 ? "" : " or ", folders[index]});
    return appendText(message, {")"});
}

std::string commentChanged(const std::string& signatureFile) {
    std::string message;
    return appendText(message,
                      {"the trusted comment of ", signatureFile, " was changed after it was signed"});
}

std::string otherFile(const std::string& image, const std::string& signatureFile,
                      const std::string& namedFile) {
    std::string message;
    return appendText(message, {image, " does not match ", signatureFile,
                                ": that signature is of another file, ", printableText(namedFile)});
}

std::string badSignature(const std::string& image, const std::string& signatureFile,
                         const std::string& keyId) {
    std::string message;
    return appendText(message, {image, " does not match its signature ", signatureFile, " by key ", keyId,
                                ": the image was changed after it was signed"});
}

std::string imageUnsigned(const std::string& image, const std::string& signatureFile) {
    std::string message;
    return appendText(message, {image, " is not signed (no ", signatureFile, ")"});
}

std::string signedBy(const std::string& keyId, SignatureForm form) {
    std::string message;
    return appendText(
        message, {"signed by key ", keyId, form == SignatureForm::Prehashed ? " (prehashed)" : " (legacy)"});
}

std::string trustedCommentLine(const std::string& comment, bool verified) {
    std::string message;
    return appendText(message, {verified ? "trusted comment: " : "trusted comment (not verified): ",
                                displayedComment(comment)});
}

std::string trustedKey(const std::string& keyId, const std::string& keyFile) {
    std::string message;
    return appendText(message, {"key ", keyId, " is trusted (", keyFile, ")"});
}

const char* stateName(SignatureState state) {
    switch (state) {
        case SignatureState::Trusted: return "trusted";
        case SignatureState::Refused: return "refused";
        case SignatureState::Unsigned: break;
    }
    return "unsigned";
}

}  // namespace velmora::signing::messages
