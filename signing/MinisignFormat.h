#pragma once
// The files of a signing key pair and of its signatures, in the formats of
// Debian's minisign tool, so that a release team may sign with minisign or with
// Velmora, with keys made by either, and a station verifies both. Each file is
// parsed here once into a typed value and written from one; nothing else looks
// into their bytes.
//
//   NAME.pub        untrusted comment: minisign public key <KEY ID>
//                   base64("Ed" | key ID | Ed25519 public key)
//   NAME.key        untrusted comment: minisign encrypted secret key
//                   base64("Ed" | "Sc" or 00 00 | "B2" | salt | opslimit | memlimit |
//                          (key ID | Ed25519 secret key | BLAKE2b-256 checksum), masked by
//                          scrypt(password) when "Sc")
//   IMAGE.minisig   untrusted comment: <free text, not covered by anything>
//                   base64("ED" or "Ed" | key ID | signature of the file)
//                   trusted comment: <text covered by the global signature>
//                   base64(signature of (signature | trusted comment))
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::signing {

inline constexpr std::size_t kKeyIdBytes = 8;
inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kSecretKeyBytes = 64;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kChecksumBytes = 32;
inline constexpr std::size_t kSaltBytes = 32;
// What a sealed secret key holds: its key ID, the secret key and their checksum.
inline constexpr std::size_t kSealedKeyBytes = kKeyIdBytes + kSecretKeyBytes + kChecksumBytes;
// The longest comment line either tool writes; longer lines are refused, not cut.
inline constexpr std::size_t kLongestCommentBytes = 1024;

using KeyId = std::array<std::uint8_t, kKeyIdBytes>;
using SignatureBytes = std::array<std::uint8_t, kSignatureBytes>;

// "99CBC3FF71922B23": the key ID as both tools show it (a public key file's first
// line ends with it), the eight bytes read as one little-endian number in
// upper-case hex, without leading zeros ("C6E20DB87E9E4A").
std::string keyIdText(const KeyId& id);
// The key ID those one to sixteen hex digits (either case) name; nothing for
// other text.
std::optional<KeyId> keyIdFromText(std::string_view text);

struct PublicKey {
    KeyId id{};
    std::array<std::uint8_t, kPublicKeyBytes> key{};
};

std::optional<PublicKey> parsePublicKeyFile(std::string_view text, std::string& error);
std::string publicKeyFileText(const PublicKey& key);

// Prehashed ("ED", the default of both tools): the signature covers the BLAKE2b-512
// digest of the file. Legacy ("Ed"): it covers the file's bytes themselves.
enum class SignatureForm { Prehashed, Legacy };

struct SignatureFile {
    std::string untrustedComment;
    SignatureForm form = SignatureForm::Prehashed;
    KeyId keyId{};
    SignatureBytes signature{};
    std::string trustedComment;
    SignatureBytes globalSignature{};  // over signature | trusted comment
};

std::optional<SignatureFile> parseSignatureFile(std::string_view text, std::string& error);
std::string signatureFileText(const SignatureFile& signature);

// The secret key file as stored: sealed holds the key ID, the secret key and their
// checksum, masked by a key derived from the password when protected.
struct SecretKeyFile {
    bool passwordProtected = false;
    std::array<std::uint8_t, kSaltBytes> salt{};
    std::uint64_t opsLimit = 0;
    std::uint64_t memLimit = 0;
    std::array<std::uint8_t, kSealedKeyBytes> sealed{};
};

std::optional<SecretKeyFile> parseSecretKeyFile(std::string_view text, std::string& error);
std::string secretKeyFileText(const SecretKeyFile& key);

}  // namespace velmora::signing
