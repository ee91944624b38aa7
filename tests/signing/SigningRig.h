#pragma once
// A scratch stand-in for the system's configuration folder (its trusted-keys,
// revoked-keys and config.ini), with the keys and signed images the signing tests
// use. Everything belongs to the user running the tests, who counts as a trusted
// owner, as root does.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "signing/SecretKey.h"
#include "signing/SignatureVerdict.h"
#include "signing/Signer.h"
#include "signing/TrustStore.h"
#include "signing/TrustedComment.h"
#include "tests/support/SampleImage.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {

class SigningRig {
public:
    SigningRig() {
        std::filesystem::create_directories(keyFolder());
        protect(system_);
        protect(keyFolder());
    }

    // Trust files count only when no other user may write them, whatever the
    // umask the tests run under: folders 0755, files 0644.
    static void protect(const std::filesystem::path& path) {
        using std::filesystem::perms;
        const perms readable =
            perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;
        std::filesystem::permissions(
            path, std::filesystem::is_directory(path)
                      ? readable | perms::owner_exec | perms::group_exec | perms::others_exec
                      : readable);
    }

    const std::filesystem::path& system() const { return system_; }
    std::filesystem::path keyFolder() const { return system_ / signing::kTrustedKeysFolderName; }
    std::string path(const std::string& name) const { return scratch_.path(name); }

    // A new key pair whose public key is the file NAME.pub of folder (none: not trusted).
    signing::KeyPair key(const std::string& name, const std::filesystem::path& folder) const {
        signing::KeyPair pair = signing::generateKeyPair();
        std::filesystem::create_directories(folder);
        protect(folder);
        const std::filesystem::path file = folder / (name + signing::kPublicKeySuffix);
        std::ofstream(file) << signing::publicKeyFileText(pair.publicKey);
        protect(file);
        return pair;
    }
    signing::KeyPair trustedKey(const std::string& name) const { return key(name, keyFolder()); }
    signing::KeyPair untrustedKey() const { return key("elsewhere", scratch_.path() / "untrusted"); }

    void revoke(const signing::KeyId& id) const {
        const std::filesystem::path list = system_ / signing::kRevokedKeysFileName;
        std::ofstream(list, std::ios::app) << "# left the release team\n" << signing::keyIdText(id) << "\n";
        protect(list);
    }
    void writeSystemConfig(const std::string& text) const { std::ofstream(system_ / "config.ini") << text; }

    // The shipped sample image as the file name, with its last byte set to mark
    // (so that two images differ).
    std::string image(const std::string& name, std::uint8_t mark = 0) const {
        std::vector<std::uint8_t> bytes = makeShippedSampleImage();
        bytes.back() = mark;
        return scratch_.write(name, bytes);
    }

    // IMAGE.minisig, signed by key as "image sign" signs.
    void sign(const std::string& image, const signing::KeyPair& key) const {
        const std::vector<std::uint8_t> bytes = read(image);
        signing::ReleaseDetails details{1796796748, std::filesystem::path(image).filename().string(), "0102",
                                        ""};
        const signing::SignatureFile signature = signing::signBytes(
            key.secretKey, bytes.data(), bytes.size(), signing::releaseComment(details), "test signature");
        std::ofstream(image + signing::kSignatureSuffix) << signing::signatureFileText(signature);
    }

    signing::SignatureVerdict judge(const std::string& image, signing::TrustSettings settings = {}) const {
        settings.systemFolder = system_;
        const std::vector<std::uint8_t> bytes = read(image);
        return signing::judgeImageSignature(image, bytes.data(), bytes.size(), settings);
    }

    static std::vector<std::uint8_t> read(const std::string& file) {
        std::ifstream stream(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    }

private:
    ScratchFolder scratch_{"velmora-signing"};
    std::filesystem::path system_ = scratch_.path() / "etc";
};

}  // namespace velmora::testing
