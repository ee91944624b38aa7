#pragma once
// Signing a file's bytes and checking a signature against them, in the two
// forms minisign verifies (prehashed and legacy); Velmora signs prehashed, as
// minisign does by default.
#include <cstddef>
#include <cstdint>
#include <string>

#include "signing/MinisignFormat.h"
#include "signing/SecretKey.h"

namespace velmora::signing {

// The signature of size bytes, prehashed, with its trusted comment (one line,
// which the caller has made so) and an untrusted one.
SignatureFile signBytes(const SecretKey& key, const std::uint8_t* bytes, std::size_t size,
                        const std::string& trustedComment, const std::string& untrustedComment);

enum class SignatureCheck {
    Valid,
    BytesDiffer,     // the signature is not of these bytes (changed, or another file's)
    CommentChanged,  // the trusted comment is not the one that was signed
};

// Checks the signature with key, which must be the key the signature names. The
// trusted comment is checked first: only a comment that passes can be believed
// when it names the file the signature was made for.
SignatureCheck checkSignature(const PublicKey& key, const SignatureFile& signature, const std::uint8_t* bytes,
                              std::size_t size);

}  // namespace velmora::signing
