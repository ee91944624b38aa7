#pragma once
// A signing key pair in memory, and the secret key's file: sealed under a
// password with scrypt, as minisign seals its keys, or left open for a bench.
#include <cstdint>
#include <optional>
#include <string>

#include "signing/MinisignFormat.h"

namespace velmora::signing {

// The secret half, wiped from memory when it goes (each copy wipes its own).
struct SecretKey {
    KeyId id{};
    std::array<std::uint8_t, kSecretKeyBytes> key{};

    ~SecretKey();
};

struct KeyPair {
    PublicKey publicKey;
    SecretKey secretKey;
};

// A fresh Ed25519 key pair with a random key ID.
KeyPair generateKeyPair();

// The work scrypt does to derive the key that seals a secret key from its password.
struct PasswordCost {
    std::uint64_t opsLimit = 0;
    std::uint64_t memLimit = 0;
};
// minisign's own: 2^25 operations over 1 GiB of memory, a few seconds of work for
// every guess at the password. A key file names its own cost; keys are read with it.
inline constexpr PasswordCost kMinisignPasswordCost{33554432, 1073741824};

// The key as its file holds it: sealed under password when one is given, else open.
SecretKeyFile sealSecretKey(const SecretKey& key, const std::string* password,
                            PasswordCost cost = kMinisignPasswordCost);

// The key the file holds; password is used only when the file is protected.
// Nothing, with error, for a wrong password, a damaged file or a cost beyond any
// that a key is made with (a crafted file could ask for all the machine's memory).
std::optional<SecretKey> openSecretKey(const SecretKeyFile& file, const std::string& password,
                                       std::string& error);

// Overwrites text (a password) before it is dropped.
void wipe(std::string& text);

}  // namespace velmora::signing
