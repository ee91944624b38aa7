#include "signing/Signer.h"

#include <sodium.h>

#include <vector>

#include "signing/Sodium.h"

namespace velmora::signing {
namespace {

using Digest = std::array<std::uint8_t, crypto_generichash_BYTES_MAX>;  // BLAKE2b-512

Digest prehash(const std::uint8_t* bytes, std::size_t size) {
    Digest digest{};
    crypto_generichash(digest.data(), digest.size(), bytes, size, nullptr, 0);
    return digest;
}

// What the global signature covers: the file's signature, then the trusted comment.
std::vector<std::uint8_t> globalMessage(const SignatureFile& signature) {
    std::vector<std::uint8_t> message(signature.signature.begin(), signature.signature.end());
    message.insert(message.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    return message;
}

bool verifies(const PublicKey& key, const SignatureBytes& signature, const std::uint8_t* message,
              std::size_t size) {
    return crypto_sign_verify_detached(signature.data(), message, size, key.key.data()) == 0;
}

}  // namespace

SignatureFile signBytes(const SecretKey& key, const std::uint8_t* bytes, std::size_t size,
                        const std::string& trustedComment, const std::string& untrustedComment) {
    prepareSodium();
    SignatureFile signature;
    signature.form = SignatureForm::Prehashed;
    signature.keyId = key.id;
    signature.untrustedComment = untrustedComment;
    signature.trustedComment = trustedComment;
    const Digest digest = prehash(bytes, size);
    crypto_sign_detached(signature.signature.data(), nullptr, digest.data(), digest.size(), key.key.data());
    const std::vector<std::uint8_t> global = globalMessage(signature);
    crypto_sign_detached(signature.globalSignature.data(), nullptr, global.data(), global.size(),
                         key.key.data());
    return signature;
}

SignatureCheck checkSignature(const PublicKey& key, const SignatureFile& signature, const std::uint8_t* bytes,
                              std::size_t size) {
    prepareSodium();
    const std::vector<std::uint8_t> global = globalMessage(signature);
    if (!verifies(key, signature.globalSignature, global.data(), global.size())) {
        return SignatureCheck::CommentChanged;
    }
    if (signature.form == SignatureForm::Legacy) {
        return verifies(key, signature.signature, bytes, size) ? SignatureCheck::Valid
                                                               : SignatureCheck::BytesDiffer;
    }
    const Digest digest = prehash(bytes, size);
    return verifies(key, signature.signature, digest.data(), digest.size()) ? SignatureCheck::Valid
                                                                            : SignatureCheck::BytesDiffer;
}

}  // namespace velmora::signing
