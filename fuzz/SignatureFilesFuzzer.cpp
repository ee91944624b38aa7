// Any bytes as each of minisign's files (a signature, a public key, a secret key)
// and as a revocation list: what parses writes back to the same value; and as the
// signature beside an image, decided on with a trusted key (minisign's test
// vector, whose signatures are among the seeds, so mutations reach the checks).
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "signing/MinisignFormat.h"
#include "signing/SecretKey.h"
#include "signing/SignatureVerdict.h"
#include "signing/TrustStore.h"

namespace {

using namespace velmora::signing;
using velmora::fuzz::check;

constexpr const char* kTrustedKey =
    "untrusted comment: minisign public key 99CBC3FF71922B23\n"
    "RWQjK5Jx/8PLmTVBmQPVvgjaeKZdAsNiDGgVpGPQuwU6AQ8Dim/Dmp0i\n";
const std::string kSignedBytes = "Zelo Hub image\n";

// The system folder with the one trusted key, and the image, made once.
const std::filesystem::path& systemFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path system = std::filesystem::path(velmora::fuzz::scratchFolder()) / "etc";
        std::filesystem::create_directories(system / kTrustedKeysFolderName);
        std::ofstream(system / kTrustedKeysFolderName / "vector.pub") << kTrustedKey;
        return system;
    }();
    return folder;
}

void roundTrips(const std::string& text) {
    std::string error;
    if (const auto signature = parseSignatureFile(text, error)) {
        const auto again = parseSignatureFile(signatureFileText(*signature), error);
        check(again && again->form == signature->form && again->keyId == signature->keyId &&
                  again->signature == signature->signature &&
                  again->globalSignature == signature->globalSignature &&
                  again->trustedComment == signature->trustedComment &&
                  again->untrustedComment == signature->untrustedComment,
              "a signature file does not read back as written");
    }
    if (const auto key = parsePublicKeyFile(text, error)) {
        const auto again = parsePublicKeyFile(publicKeyFileText(*key), error);
        check(again && again->id == key->id && again->key == key->key, "a public key does not read back");
    }
    if (const auto key = parseSecretKeyFile(text, error)) {
        const auto again = parseSecretKeyFile(secretKeyFileText(*key), error);
        check(again && again->passwordProtected == key->passwordProtected && again->sealed == key->sealed &&
                  again->opsLimit == key->opsLimit && again->memLimit == key->memLimit,
              "a secret key does not read back");
        // A protected key would cost the scrypt work its file asks for: not here.
        if (!key->passwordProtected) openSecretKey(*key, {}, error);
    }
    if (const auto revoked = parseRevocationList(text, error)) {
        for (const KeyId& id : *revoked)
            check(keyIdFromText(keyIdText(id)) == id, "a key ID does not read back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    roundTrips(text);

    TrustSettings settings;
    settings.systemFolder = systemFolder();
    const std::string image = velmora::fuzz::writeScratchFile(
        "image.bin", reinterpret_cast<const std::uint8_t*>(kSignedBytes.data()), kSignedBytes.size());
    velmora::fuzz::writeScratchFile(std::string("image.bin") + kSignatureSuffix, data, size);
    const SignatureVerdict verdict = judgeImageSignature(
        image, reinterpret_cast<const std::uint8_t*>(kSignedBytes.data()), kSignedBytes.size(), settings);
    check(verdict.admitted() == (verdict.state == SignatureState::Trusted),
          "a signature file admitted unsigned");
    check(verdict.state != SignatureState::Trusted || verdict.keyId == "99CBC3FF71922B23",
          "trusted with another key");
    return 0;
}
