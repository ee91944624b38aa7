#pragma once
// Every text of image signing: the reasons an image's signature refuses it, the
// notes on the trust files, and the lines that show who signed an image. The
// window, the command line and the station show them unchanged.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::signing {
enum class SignatureState;
enum class SignatureForm;
struct SignatureVerdict;
}  // namespace velmora::signing

namespace velmora::signing::messages {

// Why a key or signature file cannot be read as one.
inline constexpr const char* kNotTwoKeyLines = "is not a key file (an untrusted comment line, then the key)";
inline constexpr const char* kBadKeyLine = "its key line is not a key of this kind in base64";
inline constexpr const char* kUnknownAlgorithm = "uses an algorithm other than Ed25519";
inline constexpr const char* kNotFourSignatureLines =
    "is not a signature file (an untrusted comment, the signature, a trusted comment, the global signature)";
inline constexpr const char* kBadSignatureLine = "a signature line is not a signature in base64";

// Why a secret key cannot be opened.
inline constexpr const char* kWrongPassword = "wrong password, or the key file is damaged";
inline constexpr const char* kDamagedKey = "the key file is damaged";
inline constexpr const char* kPasswordCostTooHigh =
    "its password protection asks for more memory or work than any key is made with";
inline constexpr const char* kPasswordWorkFailed = "not enough memory to open its password protection";

// A trust file passed over: "trusted keys not used: DETAIL".
std::string keysNotUsed(const std::string& detail);
// "line N: 'TEXT' is not a key ID (up to sixteen hex digits)".
std::string notAKeyId(std::size_t line, std::string_view text);

// The reasons an image is refused (SignatureRefusal), each naming its files.
std::string benchKeysRefused(const std::string& configFolder);
std::string benchFolderUnusable(const std::string& folder, const std::string& reason);
std::string unsignedRefused(const std::string& image, const std::string& signatureFile);
std::string signatureUnusable(const std::string& signatureFile, const std::string& reason);
std::string revocationListUnusable(const std::string& problem);
std::string revokedKey(const std::string& image, const std::string& keyId, const std::string& list);
std::string unknownKey(const std::string& image, const std::string& keyId,
                       const std::vector<std::string>& folders);
std::string commentChanged(const std::string& signatureFile);
std::string otherFile(const std::string& image, const std::string& signatureFile,
                      const std::string& namedFile);
std::string badSignature(const std::string& image, const std::string& signatureFile,
                         const std::string& keyId);

// Said of an unsigned image where keys are trusted, outside the status lines:
// "IMAGE is not signed (no IMAGE.minisig)".
std::string imageUnsigned(const std::string& image, const std::string& signatureFile);

// Who signed an image, as the window's image fields, the station's header and
// "image verify" show it.
// "signed by key 99CBC3FF71922B23 (prehashed)".
std::string signedBy(const std::string& keyId, SignatureForm form);
// "trusted comment: ..." (fields apart by two blanks), or "trusted comment (not
// verified): ..." for one that no trusted key has checked.
std::string trustedCommentLine(const std::string& comment, bool verified);
// "key 99CBC3FF71922B23 is trusted (/etc/velmora/trusted-keys/release.pub)".
std::string trustedKey(const std::string& keyId, const std::string& keyFile);

// The state a history row records: "unsigned", "trusted" or "refused".
const char* stateName(SignatureState state);

}  // namespace velmora::signing::messages
