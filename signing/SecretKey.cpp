#include "signing/SecretKey.h"

#include <sodium.h>

#include <algorithm>

#include "signing/SigningMessages.h"
#include "signing/Sodium.h"

namespace velmora::signing {
namespace {

constexpr std::string_view kSignatureAlgorithm = "Ed";
// The most work a key file may ask for: four times minisign's, in memory and in
// operations (some twenty seconds), so a crafted key file cannot take the
// machine's memory or keep the command busy for hours.
constexpr std::uint64_t kLargestMemLimit = 4 * kMinisignPasswordCost.memLimit;
constexpr std::uint64_t kLargestOpsLimit = 4 * kMinisignPasswordCost.opsLimit;

using Checksum = std::array<std::uint8_t, kChecksumBytes>;
using Sealed = std::array<std::uint8_t, kSealedKeyBytes>;

// BLAKE2b-256 of the algorithm, the key ID and the secret key: what tells a right
// password (or an intact file) from a wrong one.
Checksum checksumOf(const KeyId& id, const std::array<std::uint8_t, kSecretKeyBytes>& key) {
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kChecksumBytes);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(kSignatureAlgorithm.data()),
                              kSignatureAlgorithm.size());
    crypto_generichash_update(&state, id.data(), id.size());
    crypto_generichash_update(&state, key.data(), key.size());
    Checksum checksum{};
    crypto_generichash_final(&state, checksum.data(), checksum.size());
    sodium_memzero(&state, sizeof state);
    return checksum;
}

// Masks (or unmasks: the same operation) the sealed bytes with the stream scrypt
// derives from the password. False when libsodium cannot do the work (memory).
bool applyPassword(Sealed& sealed, const std::string& password, const SecretKeyFile& file) {
    Sealed stream{};
    if (crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), password.data(), password.size(),
                                           file.salt.data(), file.opsLimit,
                                           static_cast<std::size_t>(file.memLimit)) != 0)
        return false;
    for (std::size_t index = 0; index < sealed.size(); ++index) sealed[index] ^= stream[index];
    sodium_memzero(stream.data(), stream.size());
    return true;
}

// An Ed25519 secret key holds its seed and then its public key; a key whose two
// halves do not belong together is damaged, whatever its checksum says.
bool halvesAgree(const std::array<std::uint8_t, kSecretKeyBytes>& key) {
    std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> publicKey{};
    std::array<std::uint8_t, kSecretKeyBytes> rebuilt{};
    crypto_sign_seed_keypair(publicKey.data(), rebuilt.data(), key.data());
    const bool agree = sodium_memcmp(rebuilt.data(), key.data(), key.size()) == 0;
    sodium_memzero(rebuilt.data(), rebuilt.size());
    return agree;
}

}  // namespace

SecretKey::~SecretKey() {
    sodium_memzero(key.data(), key.size());
}

KeyPair generateKeyPair() {
    prepareSodium();
    KeyPair pair;
    crypto_sign_keypair(pair.publicKey.key.data(), pair.secretKey.key.data());
    randombytes_buf(pair.publicKey.id.data(), pair.publicKey.id.size());
    pair.secretKey.id = pair.publicKey.id;
    return pair;
}

SecretKeyFile sealSecretKey(const SecretKey& key, const std::string* password, PasswordCost cost) {
    prepareSodium();
    SecretKeyFile file;
    const Checksum checksum = checksumOf(key.id, key.key);
    auto at = file.sealed.begin();
    at = std::copy(key.id.begin(), key.id.end(), at);
    at = std::copy(key.key.begin(), key.key.end(), at);
    std::copy(checksum.begin(), checksum.end(), at);
    if (password != nullptr) {
        file.passwordProtected = true;
        randombytes_buf(file.salt.data(), file.salt.size());
        file.opsLimit = cost.opsLimit;
        file.memLimit = cost.memLimit;
        if (!applyPassword(file.sealed, *password, file)) std::abort();  // the cost is our own
    }
    return file;
}

std::optional<SecretKey> openSecretKey(const SecretKeyFile& file, const std::string& password,
                                       std::string& error) {
    prepareSodium();
    Sealed sealed = file.sealed;
    if (file.passwordProtected) {
        if (file.memLimit > kLargestMemLimit || file.opsLimit > kLargestOpsLimit) {
            error = messages::kPasswordCostTooHigh;
            return std::nullopt;
        }
        if (!applyPassword(sealed, password, file)) {
            error = messages::kPasswordWorkFailed;
            return std::nullopt;
        }
    }
    SecretKey key;
    auto at = sealed.begin();
    std::copy_n(at, key.id.size(), key.id.begin());
    std::copy_n(at + kKeyIdBytes, key.key.size(), key.key.begin());
    Checksum stored{};
    std::copy_n(at + kKeyIdBytes + kSecretKeyBytes, stored.size(), stored.begin());
    sodium_memzero(sealed.data(), sealed.size());
    // minisign leaves the checksum of an open key zero; any other is checked.
    const bool unchecked = !file.passwordProtected && sodium_is_zero(stored.data(), stored.size());
    const Checksum expected = checksumOf(key.id, key.key);
    if (!unchecked && sodium_memcmp(stored.data(), expected.data(), stored.size()) != 0) {
        error = file.passwordProtected ? messages::kWrongPassword : messages::kDamagedKey;
        return std::nullopt;
    }
    if (!halvesAgree(key.key)) {
        error = messages::kDamagedKey;
        return std::nullopt;
    }
    return key;
}

void wipe(std::string& text) {
    sodium_memzero(text.data(), text.size());
    text.clear();
}

}  // namespace velmora::signing
