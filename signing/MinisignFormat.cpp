#include "signing/MinisignFormat.h"

#include <sodium.h>

#include <algorithm>
#include <vector>

#include "app/Hex.h"
#include "app/TextAppend.h"
#include "signing/SigningMessages.h"

namespace velmora::signing {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kPublicKeyComment = "minisign public key ";
constexpr std::string_view kSecretKeyComment = "minisign encrypted secret key";

// Two-byte algorithm names.
constexpr std::string_view kEd25519 = "Ed";
constexpr std::string_view kPrehashedEd25519 = "ED";
constexpr std::string_view kScrypt = "Sc";
constexpr std::string_view kNoKdf{"\0\0", 2};
constexpr std::string_view kBlake2b = "B2";
constexpr std::size_t kAlgorithmBytes = 2;

constexpr std::size_t kPublicKeyBlob = kAlgorithmBytes + kKeyIdBytes + kPublicKeyBytes;
constexpr std::size_t kSignatureBlob = kAlgorithmBytes + kKeyIdBytes + kSignatureBytes;
constexpr std::size_t kSecretKeyBlob =
    3 * kAlgorithmBytes + kSaltBytes + 2 * sizeof(std::uint64_t) + kSealedKeyBytes;

// Reads a blob of bytes front to back; each take fails once the blob is used up.
class BlobReader {
public:
    explicit BlobReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    std::string_view text(std::size_t count) {
        const std::size_t start = advance(count);
        return {reinterpret_cast<const char*>(bytes_.data()) + start, count};
    }
    template <std::size_t N>
    void copy(std::array<std::uint8_t, N>& target) {
        const std::size_t start = advance(N);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(start), N, target.begin());
    }
    std::uint64_t littleEndian64() {
        const std::size_t start = advance(sizeof(std::uint64_t));
        std::uint64_t value = 0;
        for (std::size_t index = sizeof(std::uint64_t); index-- > 0;)
            value = (value << 8) | bytes_[start + index];
        return value;
    }

private:
    // Every blob is decoded to its exact size before it is read, so a read never
    // runs past its end; were one to (a fault of this file), it reads the first
    // bytes again instead of memory beyond the blob.
    std::size_t advance(std::size_t count) {
        const std::size_t start = position_;
        position_ += count;
        return position_ <= bytes_.size() ? start : 0;
    }
    const std::vector<std::uint8_t>& bytes_;
    std::size_t position_ = 0;
};

class BlobWriter {
public:
    void text(std::string_view value) { bytes_.insert(bytes_.end(), value.begin(), value.end()); }
    template <std::size_t N>
    void copy(const std::array<std::uint8_t, N>& value) {
        bytes_.insert(bytes_.end(), value.begin(), value.end());
    }
    void littleEndian64(std::uint64_t value) {
        for (std::size_t index = 0; index < sizeof value; ++index)
            bytes_.push_back(value >> (8 * index) & 0xFF);
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    void wipe() { sodium_memzero(bytes_.data(), bytes_.size()); }

private:
    std::vector<std::uint8_t> bytes_;
};

// The file's lines without their ends ("\n" or "\r\n"), trailing empty lines dropped.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// The bytes the base64 line holds, when it holds exactly size of them.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view line, std::size_t size) {
    std::vector<std::uint8_t> bytes(size + 1);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), line.data(), line.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != line.data() + line.size() || length != size)
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

std::string encodeBase64(const std::vector<std::uint8_t>& bytes) {
    std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1);  // the terminating NUL
    return text;
}

bool isCommentText(std::string_view text) {
    return text.size() <= kLongestCommentBytes && text.find('\0') == std::string_view::npos;
}

// The text after prefix on a comment line; nothing when the line is no such comment.
std::optional<std::string_view> commentOf(std::string_view line, std::string_view prefix) {
    if (line.substr(0, prefix.size()) != prefix || !isCommentText(line.substr(prefix.size())))
        return std::nullopt;
    return line.substr(prefix.size());
}

// The first two lines of a key file: its comment, then its base64 blob of size bytes.
std::optional<std::vector<std::uint8_t>> keyBlob(std::string_view text, std::size_t size,
                                                 std::string& error) {
    const std::vector<std::string_view> lines = linesOf(text);
    if (lines.size() != 2 || !commentOf(lines[0], kUntrustedPrefix)) {
        error = messages::kNotTwoKeyLines;
        return std::nullopt;
    }
    auto blob = decodeBase64(lines[1], size);
    if (!blob) error = messages::kBadKeyLine;
    return blob;
}

std::string fileText(std::initializer_list<std::string_view> lines) {
    std::string text;
    for (const std::string_view line : lines) appendText(text, {line, "\n"});
    return text;
}

}  // namespace

std::string keyIdText(const KeyId& id) {
    std::uint64_t number = 0;
    for (std::size_t index = id.size(); index-- > 0;) number = (number << 8) | id[index];
    return hexText(number, 1);
}

std::optional<KeyId> keyIdFromText(std::string_view text) {
    const std::optional<std::uint64_t> digits = parseHex(text, 1, 2 * kKeyIdBytes);
    if (!digits) return std::nullopt;
    std::uint64_t number = *digits;
    KeyId id{};
    for (std::uint8_t& byte : id) {
        byte = static_cast<std::uint8_t>(number & 0xFF);
        number >>= 8;
    }
    return id;
}

std::optional<PublicKey> parsePublicKeyFile(std::string_view text, std::string& error) {
    const auto blob = keyBlob(text, kPublicKeyBlob, error);
    if (!blob) return std::nullopt;
    BlobReader reader(*blob);
    if (reader.text(kAlgorithmBytes) != kEd25519) {
        error = messages::kUnknownAlgorithm;
        return std::nullopt;
    }
    PublicKey key;
    reader.copy(key.id);
    reader.copy(key.key);
    return key;
}

std::string publicKeyFileText(const PublicKey& key) {
    BlobWriter blob;
    blob.text(kEd25519);
    blob.copy(key.id);
    blob.copy(key.key);
    std::string comment;
    appendText(comment, {kUntrustedPrefix, kPublicKeyComment, keyIdText(key.id)});
    return fileText({comment, encodeBase64(blob.bytes())});
}

std::optional<SignatureFile> parseSignatureFile(std::string_view text, std::string& error) {
    const std::vector<std::string_view> lines = linesOf(text);
    SignatureFile signature;
    const auto untrusted = lines.size() == 4 ? commentOf(lines[0], kUntrustedPrefix) : std::nullopt;
    const auto trusted = lines.size() == 4 ? commentOf(lines[2], kTrustedPrefix) : std::nullopt;
    if (!untrusted || !trusted) {
        error = messages::kNotFourSignatureLines;
        return std::nullopt;
    }
    const auto blob = decodeBase64(lines[1], kSignatureBlob);
    const auto global = decodeBase64(lines[3], kSignatureBytes);
    if (!blob || !global) {
        error = messages::kBadSignatureLine;
        return std::nullopt;
    }
    BlobReader reader(*blob);
    const std::string_view algorithm = reader.text(kAlgorithmBytes);
    if (algorithm != kPrehashedEd25519 && algorithm != kEd25519) {
        error = messages::kUnknownAlgorithm;
        return std::nullopt;
    }
    signature.form = algorithm == kPrehashedEd25519 ? SignatureForm::Prehashed : SignatureForm::Legacy;
    reader.copy(signature.keyId);
    reader.copy(signature.signature);
    std::copy(global->begin(), global->end(), signature.globalSignature.begin());
    signature.untrustedComment = *untrusted;
    signature.trustedComment = *trusted;
    return signature;
}

std::string signatureFileText(const SignatureFile& signature) {
    BlobWriter blob;
    blob.text(signature.form == SignatureForm::Prehashed ? kPrehashedEd25519 : kEd25519);
    blob.copy(signature.keyId);
    blob.copy(signature.signature);
    BlobWriter global;
    global.copy(signature.globalSignature);
    std::string untrusted;
    std::string trusted;
    appendText(untrusted, {kUntrustedPrefix, signature.untrustedComment});
    appendText(trusted, {kTrustedPrefix, signature.trustedComment});
    return fileText({untrusted, encodeBase64(blob.bytes()), trusted, encodeBase64(global.bytes())});
}

std::optional<SecretKeyFile> parseSecretKeyFile(std::string_view text, std::string& error) {
    auto blob = keyBlob(text, kSecretKeyBlob, error);
    if (!blob) return std::nullopt;
    BlobReader reader(*blob);
    const std::string_view signatureAlgorithm = reader.text(kAlgorithmBytes);
    const std::string_view kdf = reader.text(kAlgorithmBytes);
    const std::string_view checksum = reader.text(kAlgorithmBytes);
    std::optional<SecretKeyFile> key;
    if (signatureAlgorithm != kEd25519 || (kdf != kScrypt && kdf != kNoKdf) || checksum != kBlake2b) {
        error = messages::kUnknownAlgorithm;
    } else {
        key.emplace();
        key->passwordProtected = kdf == kScrypt;
        reader.copy(key->salt);
        key->opsLimit = reader.littleEndian64();
        key->memLimit = reader.littleEndian64();
        reader.copy(key->sealed);
    }
    sodium_memzero(blob->data(), blob->size());
    return key;
}

std::string secretKeyFileText(const SecretKeyFile& key) {
    BlobWriter blob;
    blob.text(kEd25519);
    blob.text(key.passwordProtected ? kScrypt : kNoKdf);
    blob.text(kBlake2b);
    blob.copy(key.salt);
    blob.littleEndian64(key.opsLimit);
    blob.littleEndian64(key.memLimit);
    blob.copy(key.sealed);
    std::string comment;
    appendText(comment, {kUntrustedPrefix, kSecretKeyComment});
    std::string text = fileText({comment, encodeBase64(blob.bytes())});
    blob.wipe();
    return text;
}

}  // namespace velmora::signing
