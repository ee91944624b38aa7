#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "signing/SigningMessages.h"
#include "tests/signing/SigningRig.h"
#include "tests/support/ChildProcess.h"

namespace velmora::signing {
namespace {

namespace fs = std::filesystem;
using testing::SigningRig;

// A station trusts last year's and this year's release keys at once (a rotation
// under way) and has revoked a third, whose key file is still installed.
class SignatureVerdictTest : public ::testing::Test {
protected:
    SigningRig rig_;
    KeyPair oldKey_ = rig_.trustedKey("release-2025");
    KeyPair newKey_ = rig_.trustedKey("release-2026");
    KeyPair revokedKey_ = rig_.trustedKey("leaked");
    std::string image_ = rig_.image("fw.bin");

    void SetUp() override { rig_.revoke(revokedKey_.publicKey.id); }
};

struct VerdictCase {
    const char* name;
    std::function<void()> arrange;
    SignatureRefusal refusal;
};

TEST_F(SignatureVerdictTest, EachWayASignatureFailsHasItsOwnReason) {
    auto rewriteComment = [](const std::string& signatureFile) {
        std::string error;
        std::ifstream stream(signatureFile);
        std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
        SignatureFile signature = *parseSignatureFile(text, error);
        signature.trustedComment += "\tversion:0999";
        std::ofstream(signatureFile) << signatureFileText(signature);
    };
    const VerdictCase cases[] = {
        {"old release key", [this] { rig_.sign(image_, oldKey_); }, SignatureRefusal::None},
        {"new release key", [this] { rig_.sign(image_, newKey_); }, SignatureRefusal::None},
        {"revoked key, though installed", [this] { rig_.sign(image_, revokedKey_); },
         SignatureRefusal::RevokedKey},
        {"unknown key", [this] { rig_.sign(image_, rig_.untrustedKey()); }, SignatureRefusal::UnknownKey},
        {"a byte changed after signing",
         [this] {
             rig_.sign(image_, newKey_);
             rig_.image("fw.bin", 0x5A);
         },
         SignatureRefusal::BadSignature},
        {"signature of another image",
         [this] {
             const std::string other = rig_.image("other.bin", 0x11);
             rig_.sign(other, newKey_);
             fs::copy_file(other + kSignatureSuffix, image_ + kSignatureSuffix);
         },
         SignatureRefusal::OtherFile},
        {"trusted comment changed",
         [&, this] {
             rig_.sign(image_, newKey_);
             rewriteComment(image_ + kSignatureSuffix);
         },
         SignatureRefusal::CommentChanged},
        {"no signature file", [] {}, SignatureRefusal::None},
        {"not a signature", [this] { std::ofstream(image_ + kSignatureSuffix) << "signed, honestly\n"; },
         SignatureRefusal::UnreadableSignature},
        {"a folder", [this] { fs::create_directory(image_ + kSignatureSuffix); },
         SignatureRefusal::UnreadableSignature},
        {"a link to nothing", [this] { fs::create_symlink("gone.minisig", image_ + kSignatureSuffix); },
         SignatureRefusal::UnreadableSignature},
        {"revocation list with a line that is no key ID",
         [this] {
             rig_.sign(image_, newKey_);
             std::ofstream(rig_.system() / kRevokedKeysFileName, std::ios::app) << "the old one\n";
         },
         SignatureRefusal::RevocationListUnusable},
    };
    for (const VerdictCase& test : cases) {
        SCOPED_TRACE(test.name);
        fs::remove_all(image_ + kSignatureSuffix);
        rig_.image("fw.bin");
        fs::remove(rig_.system() / kRevokedKeysFileName);
        rig_.revoke(revokedKey_.publicKey.id);
        test.arrange();
        const SignatureVerdict verdict = rig_.judge(image_);
        EXPECT_EQ(verdict.refusal, test.refusal) << verdict.reason;
        EXPECT_EQ(verdict.admitted(), test.refusal == SignatureRefusal::None);
        EXPECT_EQ(verdict.reason.empty(), test.refusal == SignatureRefusal::None) << verdict.reason;
    }
}

TEST_F(SignatureVerdictTest, ATrustedSignatureNamesItsKeyAndComment) {
    rig_.sign(image_, newKey_);
    const SignatureVerdict verdict = rig_.judge(image_);
    ASSERT_EQ(verdict.state, SignatureState::Trusted) << verdict.reason;
    EXPECT_EQ(verdict.keyId, keyIdText(newKey_.publicKey.id));
    EXPECT_EQ(verdict.keyFile, (rig_.keyFolder() / "release-2026.pub").string());
    EXPECT_EQ(commentField(verdict.trustedComment, "file"), "fw.bin");
    EXPECT_EQ(commentField(verdict.trustedComment, "version"), "0102");
    EXPECT_TRUE(verdict.commentVerified);
    EXPECT_EQ(verdict.trustedKeyCount, 3u);
}

TEST_F(SignatureVerdictTest, TheReasonsNameTheFilesAndTheKey) {
    rig_.sign(image_, revokedKey_);
    EXPECT_EQ(rig_.judge(image_).reason,
              messages::revokedKey(image_, keyIdText(revokedKey_.publicKey.id),
                                   (rig_.system() / kRevokedKeysFileName).string()));
    const KeyPair stranger = rig_.untrustedKey();
    rig_.sign(image_, stranger);
    EXPECT_EQ(rig_.judge(image_).reason, image_ + " is signed by key " + keyIdText(stranger.publicKey.id) +
                                             ", which is not trusted (no such key in " +
                                             rig_.keyFolder().string() + ")");
}

TEST_F(SignatureVerdictTest, AnUnsignedImageIsRefusedOnlyWhereSignaturesAreRequired) {
    EXPECT_EQ(rig_.judge(image_).state, SignatureState::Unsigned);
    TrustSettings required;
    required.requireSignedOption = true;
    EXPECT_EQ(rig_.judge(image_, required).refusal, SignatureRefusal::Unsigned);
    required = {};
    required.requireSignedByConfig = true;
    EXPECT_EQ(rig_.judge(image_, required).refusal, SignatureRefusal::Unsigned);
    rig_.writeSystemConfig("[Images]\nRequireSigned = 1\n");
    EXPECT_EQ(rig_.judge(image_).refusal, SignatureRefusal::Unsigned);
}

TEST_F(SignatureVerdictTest, BenchKeysAddTrustUnlessSignaturesAreRequired) {
    const KeyPair benchKey = rig_.key("bench", rig_.path("bench"));
    rig_.sign(image_, benchKey);
    TrustSettings bench;
    bench.benchKeyFolders = {rig_.path("bench")};
    EXPECT_EQ(rig_.judge(image_).refusal, SignatureRefusal::UnknownKey);
    EXPECT_EQ(rig_.judge(image_, bench).state, SignatureState::Trusted);

    bench.benchKeyFolders = {rig_.path("no-such-folder")};
    EXPECT_EQ(rig_.judge(image_, bench).refusal, SignatureRefusal::BenchKeysUnusable);
    bench.benchKeyFolders = {rig_.path("bench")};
    rig_.writeSystemConfig("[Images]\nRequireSigned = 1\n");
    EXPECT_EQ(rig_.judge(image_, bench).refusal, SignatureRefusal::BenchKeysRefused);
}

// Whoever could write a trust file could make a root run flash anything: such a
// file, or a file in such a folder, is not used.
struct OwnershipCase {
    const char* name;
    std::function<void(const SigningRig&)> spoil;
    SignatureRefusal refusal;
    bool needsRoot = false;
};

fs::path keyFileOf(const SigningRig& rig) {
    return rig.keyFolder() / "release-2026.pub";
}

fs::path revocationListOf(const SigningRig& rig) {
    return rig.system() / kRevokedKeysFileName;
}

TEST(TrustFileOwnershipTest, TrustFilesOthersCouldWriteAreNotUsed) {
    const OwnershipCase cases[] = {
        {"key file writable by others", [](auto& rig) { ::chmod(keyFileOf(rig).c_str(), 0646); },
         SignatureRefusal::UnknownKey},
        {"key file a link",
         [](auto& rig) {
             fs::rename(keyFileOf(rig), rig.path("moved.pub"));
             fs::create_symlink(rig.path("moved.pub"), keyFileOf(rig));
         },
         SignatureRefusal::UnknownKey},
        {"key file of another user", [](auto& rig) { (void)::chown(keyFileOf(rig).c_str(), 65534, 65534); },
         SignatureRefusal::UnknownKey, true},
        {"key folder writable by its group", [](auto& rig) { ::chmod(rig.keyFolder().c_str(), 0775); },
         SignatureRefusal::UnknownKey},
        {"a folder above writable by others",
         [](auto& rig) {
             fs::remove(revocationListOf(rig));  // which would be refused as well
             ::chmod(rig.system().c_str(), 0757);
         },
         SignatureRefusal::UnknownKey},
        {"revocation list writable by others",
         [](auto& rig) { ::chmod(revocationListOf(rig).c_str(), 0666); },
         SignatureRefusal::RevocationListUnusable},
        {"revocation list of another user",
         [](auto& rig) { (void)::chown(revocationListOf(rig).c_str(), 65534, 65534); },
         SignatureRefusal::RevocationListUnusable, true},
    };
    for (const OwnershipCase& test : cases) {
        SCOPED_TRACE(test.name);
        if (test.needsRoot && !testing::runningAsRoot()) continue;
        SigningRig rig;
        const KeyPair key = rig.trustedKey("release-2026");
        rig.revoke(rig.untrustedKey().publicKey.id);
        const std::string image = rig.image("fw.bin");
        rig.sign(image, key);
        ASSERT_EQ(rig.judge(image).state, SignatureState::Trusted);
        test.spoil(rig);
        const SignatureVerdict verdict = rig.judge(image);
        EXPECT_EQ(verdict.refusal, test.refusal) << verdict.reason;
        EXPECT_EQ(verdict.notes.size(), test.refusal == SignatureRefusal::UnknownKey ? 1u : 0u);
    }
}

}  // namespace
}  // namespace velmora::signing
