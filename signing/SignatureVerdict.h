#pragma once
// The one decision on an image's signature, taken before any hub is touched:
// the image at path, as its bytes were read, is unsigned, signed by a trusted
// key, or refused with the reason. Its signature is the file IMAGE.minisig
// beside it. Every front end asks judgeImageSignature and only presents its
// answer; the texts are those of signing/SigningMessages.h.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/AppPaths.h"
#include "signing/MinisignFormat.h"

namespace velmora::signing {

inline constexpr const char* kSignatureSuffix = ".minisig";
inline constexpr std::size_t kLargestSignatureFileBytes = 8192;

// Where the trust comes from, for one command.
struct TrustSettings {
    // The system's configuration folder (/etc/velmora when installed): its
    // trusted-keys, revoked-keys and config.ini. Tests point it at a scratch folder.
    std::filesystem::path systemFolder = systemConfigFolder();
    // --trusted-keys: folders of keys trusted for this command only. Refused when a
    // configuration requires signed images: a bench's keys have no place there.
    std::vector<std::string> benchKeyFolders;
    bool requireSignedOption = false;    // --require-signed
    bool requireSignedByConfig = false;  // the configuration in use sets [Images] RequireSigned
};

// True when the system's own config.ini (in systemFolder) sets RequireSigned, which
// holds whatever configuration a command names.
bool systemRequiresSigned(const std::filesystem::path& systemFolder);

enum class SignatureState { Unsigned, Trusted, Refused };

// Why an image is refused, in the order the rules are checked.
enum class SignatureRefusal {
    None,
    BenchKeysRefused,        // --trusted-keys while a configuration requires signed images
    BenchKeysUnusable,       // a --trusted-keys folder that cannot be used
    Unsigned,                // no signature, and signed images are required
    UnreadableSignature,     // IMAGE.minisig is there but cannot be read, or is no signature
    RevocationListUnusable,  // revoked-keys is there but cannot be used: no key is trusted
    RevokedKey,              // signed by a key listed in revoked-keys
    UnknownKey,              // signed by a key that is not trusted
    CommentChanged,          // the trusted comment is not the one that was signed
    OtherFile,               // the signature is of another file, which its trusted comment names
    BadSignature,            // the image is not what was signed
};

struct SignatureVerdict {
    SignatureState state = SignatureState::Unsigned;
    SignatureRefusal refusal = SignatureRefusal::None;
    std::string reason;         // when refused: the line that says why, naming the files
    std::string signatureFile;  // IMAGE.minisig
    // Read from the signature, when there is one that could be read.
    bool signatureRead = false;
    std::string keyId;  // in hex, as minisign shows it
    SignatureForm form = SignatureForm::Prehashed;
    std::string trustedComment;    // as signed: tabs and all
    bool commentVerified = false;  // checked with a trusted key (Trusted, OtherFile, BadSignature)
    std::string keyFile;           // the trusted key's file, when Trusted
    // How many keys were trusted: an unsigned image is said only where some are.
    std::size_t trustedKeyCount = 0;
    std::vector<std::string> notes;  // trust files passed over, and why

    bool admitted() const { return state != SignatureState::Refused; }
};

// The decision on the image at imagePath whose bytes (size of them, as read for
// the run) are given.
SignatureVerdict judgeImageSignature(const std::string& imagePath, const std::uint8_t* bytes,
                                     std::size_t size, const TrustSettings& settings);

}  // namespace velmora::signing
