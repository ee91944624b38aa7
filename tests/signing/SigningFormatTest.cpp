#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "signing/MinisignFormat.h"
#include "signing/SecretKey.h"
#include "signing/Signer.h"
#include "signing/SigningMessages.h"
#include "signing/TrustStore.h"

namespace velmora::signing {
namespace {

// Made by minisign 0.11 (minisign -G -W; -S and -S -l with -t) over the bytes
// "Zelo Hub image\n": the formats as the other tool writes them, fixed here so
// they hold wherever minisign is not installed.
constexpr const char* kMinisignPublicKey =
    "untrusted comment: minisign public key 99CBC3FF71922B23\n"
    "RWQjK5Jx/8PLmTVBmQPVvgjaeKZdAsNiDGgVpGPQuwU6AQ8Dim/Dmp0i\n";
constexpr const char* kPrehashedSignature =
    "untrusted comment: signature from minisign secret key\n"
    "RUQjK5Jx/8PLmdkaUJWTTXIbVU9DyMVg7sZCALQwLNEcN7bNFrwYjBt8yYIDNRlxG91x5547MUNpnT3lWjVoUZOeUobv/IMsGwM=\n"
    "trusted comment: release test vector\n"
    "R7snKWyAqUnSgLHc5awBP9ZLg6myZN4MFNBwqbXExkZoE4ZbfPXCXh7lq5UBAnW+8l0uWiga3Q+RL5+ZyxANCQ==\n";
constexpr const char* kLegacySignature =
    "untrusted comment: signature from minisign secret key\r\n"
    "RWQjK5Jx/8PLmcWP5Pick18EYQ76lf5GPZuT0j3invRtiEwd9CCOQGU4i9GgIvkGTqA0uZS/pRgydNurCVkkWcIVpXluVNZvEwk=\r\n"
    "trusted comment: release test vector\r\n"
    "vDq4a5UGRLsfGoDrCIJJWvUvC4ENh/ajDXq+lo3Yo8rsZLYPiEGH/FTSlN6G7tsAlXtJqv+Ly7CCP4NqZ071Dg==\r\n";
const std::string kSignedBytes = "Zelo Hub image\n";

// A cheap password protection for tests; real keys take minisign's.
constexpr PasswordCost kTestCost{32768, 16 * 1024 * 1024};

const std::uint8_t* bytesOf(const std::string& text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

TEST(SigningFormatTest, MinisignFilesReadAndCheck) {
    std::string error;
    const auto key = parsePublicKeyFile(kMinisignPublicKey, error);
    ASSERT_TRUE(key) << error;
    EXPECT_EQ(keyIdText(key->id), "99CBC3FF71922B23");
    EXPECT_EQ(publicKeyFileText(*key), kMinisignPublicKey);
    for (const char* text : {kPrehashedSignature, kLegacySignature}) {
        const auto signature = parseSignatureFile(text, error);
        ASSERT_TRUE(signature) << error;
        EXPECT_EQ(signature->keyId, key->id);
        EXPECT_EQ(signature->trustedComment, "release test vector");
        EXPECT_EQ(checkSignature(*key, *signature, bytesOf(kSignedBytes), kSignedBytes.size()),
                  SignatureCheck::Valid);
        EXPECT_EQ(checkSignature(*key, *signature, bytesOf(kSignedBytes), kSignedBytes.size() - 1),
                  SignatureCheck::BytesDiffer);
    }
    EXPECT_EQ(parseSignatureFile(kPrehashedSignature, error)->form, SignatureForm::Prehashed);
    EXPECT_EQ(parseSignatureFile(kLegacySignature, error)->form, SignatureForm::Legacy);
}

TEST(SigningFormatTest, WhatIsWrittenReadsBackAndVerifies) {
    const KeyPair pair = generateKeyPair();
    const SignatureFile signature = signBytes(pair.secretKey, bytesOf(kSignedBytes), kSignedBytes.size(),
                                              "timestamp:1\tfile:fw.bin\thashed", "from a test");
    std::string error;
    const auto read = parseSignatureFile(signatureFileText(signature), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->trustedComment, signature.trustedComment);
    EXPECT_EQ(read->untrustedComment, "from a test");
    EXPECT_EQ(checkSignature(pair.publicKey, *read, bytesOf(kSignedBytes), kSignedBytes.size()),
              SignatureCheck::Valid);
    SignatureFile edited = *read;
    edited.trustedComment += "\tversion:0999";
    EXPECT_EQ(checkSignature(pair.publicKey, edited, bytesOf(kSignedBytes), kSignedBytes.size()),
              SignatureCheck::CommentChanged);
    EXPECT_EQ(parsePublicKeyFile(publicKeyFileText(pair.publicKey), error)->key, pair.publicKey.key);
}

TEST(SigningFormatTest, HostileFilesAreRefusedWithAReason) {
    const std::string longComment(kLongestCommentBytes + 1, 'x');
    const std::string signatureLine =
        "RUQjK5Jx/8PLmdkaUJWTTXIbVU9DyMVg7sZCALQwLNEcN7bNFrwYjBt8yYIDNRlxG91x5547MUNpnT3lWjVoUZOeUobv/"
        "IMsGwM=";
    const std::string globalLine =
        "R7snKWyAqUnSgLHc5awBP9ZLg6myZN4MFNBwqbXExkZoE4ZbfPXCXh7lq5UBAnW+8l0uWiga3Q+RL5+ZyxANCQ==";
    const auto signatureWith = [&](const std::string& first, const std::string& second,
                                   const std::string& third) {
        return first + "\n" + second + "\ntrusted comment: " + third + "\n" + globalLine + "\n";
    };
    const std::string signatures[] = {
        "",
        "untrusted comment: x\n" + signatureLine + "\n",
        signatureWith("comment: x", signatureLine, "t"),
        signatureWith("untrusted comment: x", signatureLine.substr(4), "t"),
        signatureWith("untrusted comment: x", "RXg" + signatureLine.substr(3), "t"),  // algorithm "Ex"
        signatureWith("untrusted comment: x", signatureLine + "AAAA", "t"),
        signatureWith("untrusted comment: x", signatureLine, longComment),
        signatureWith("untrusted comment: x", signatureLine, std::string("a\0b", 3)),
        signatureWith("untrusted comment: x", signatureLine, "t") + "one line too many\n",
    };
    for (const std::string& text : signatures) {
        std::string error;
        EXPECT_FALSE(parseSignatureFile(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    const std::string keys[] = {
        "RWQjK5Jx/8PLmTVBmQPVvgjaeKZdAsNiDGgVpGPQuwU6AQ8Dim/Dmp0i\n",
        "untrusted comment: k\nRWQjK5Jx/8PLmTVBmQPVvgjaeKZdAsNiDGgVpGPQuwU6AQ8Dim/Dmp0\n",
        "untrusted comment: k\nRUQjK5Jx/8PLmTVBmQPVvgjaeKZdAsNiDGgVpGPQuwU6AQ8Dim/Dmp0i\n",
        "untrusted comment: k\n@@@@\n",
    };
    for (const std::string& text : keys) {
        std::string error;
        EXPECT_FALSE(parsePublicKeyFile(text, error)) << text;
        EXPECT_FALSE(parseSecretKeyFile(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(SigningFormatTest, SecretKeysOpenOnlyWithTheirPassword) {
    const KeyPair pair = generateKeyPair();
    const std::string password = "correct horse";
    std::string error;
    const auto sealed =
        parseSecretKeyFile(secretKeyFileText(sealSecretKey(pair.secretKey, &password, kTestCost)), error);
    ASSERT_TRUE(sealed) << error;
    EXPECT_TRUE(sealed->passwordProtected);
    EXPECT_EQ(sealed->memLimit, kTestCost.memLimit);
    const auto opened = openSecretKey(*sealed, password, error);
    ASSERT_TRUE(opened) << error;
    EXPECT_EQ(opened->key, pair.secretKey.key);
    EXPECT_EQ(opened->id, pair.publicKey.id);
    EXPECT_FALSE(openSecretKey(*sealed, "wrong horse", error));
    EXPECT_EQ(error, messages::kWrongPassword);

    SecretKeyFile greedy = *sealed;
    greedy.memLimit = 64 * kMinisignPasswordCost.memLimit;
    EXPECT_FALSE(openSecretKey(greedy, password, error));
    EXPECT_EQ(error, messages::kPasswordCostTooHigh);

    SecretKeyFile open = sealSecretKey(pair.secretKey, nullptr);
    EXPECT_FALSE(open.passwordProtected);
    EXPECT_TRUE(openSecretKey(open, {}, error)) << error;
    open.sealed[kKeyIdBytes + 3] ^= 0x01;
    EXPECT_FALSE(openSecretKey(open, {}, error));
    EXPECT_EQ(error, messages::kDamagedKey);
    // minisign leaves an open key's checksum zero: its two halves must still agree.
    std::fill(open.sealed.end() - kChecksumBytes, open.sealed.end(), 0);
    EXPECT_FALSE(openSecretKey(open, {}, error));
    open.sealed[kKeyIdBytes + 3] ^= 0x01;
    EXPECT_TRUE(openSecretKey(open, {}, error)) << error;
}

TEST(SigningFormatTest, RevocationListsNameKeyIdsOneALine) {
    std::string error;
    const auto revoked =
        parseRevocationList("# revoked\n\n  99cbc3ff71922b23  # leaked\r\n0000000000000001\n", error);
    ASSERT_TRUE(revoked) << error;
    ASSERT_EQ(revoked->size(), 2u);
    EXPECT_EQ(keyIdText((*revoked)[0]), "99CBC3FF71922B23");
    EXPECT_EQ(keyIdText((*revoked)[1]), "1");
    EXPECT_FALSE(parseRevocationList("99CBC3FF71922B23\n199CBC3FF71922B23\n", error));
    EXPECT_EQ(error, "line 2: '199CBC3FF71922B23' is not a key ID (up to sixteen hex digits)");
    // Key IDs are shown without leading zeros, as minisign shows them.
    const KeyId small = {0x4A, 0x9E, 0x7E, 0xB8, 0x0D, 0xE2, 0xC6, 0x00};
    EXPECT_EQ(keyIdText(small), "C6E20DB87E9E4A");
    EXPECT_EQ(keyIdFromText("00c6e20db87e9e4a"), small);
    EXPECT_FALSE(keyIdFromText("C6E20DB8 7E9E4A"));
}

}  // namespace
}  // namespace velmora::signing
