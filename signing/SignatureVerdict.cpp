#include "signing/SignatureVerdict.h"

#include <sys/stat.h>

#include "app/Config.h"
#include "app/Console.h"
#include "app/SafeFile.h"
#include "signing/Signer.h"
#include "signing/SigningMessages.h"
#include "signing/TrustStore.h"
#include "signing/TrustedComment.h"

namespace velmora::signing {
namespace {

namespace fs = std::filesystem;

SignatureVerdict& refuse(SignatureVerdict& verdict, SignatureRefusal refusal, std::string reason) {
    verdict.state = SignatureState::Refused;
    verdict.refusal = refusal;
    verdict.reason = std::move(reason);
    return verdict;
}

// Nothing at all at the path: a link that leads nowhere is something, and is
// refused as unreadable rather than taken for "no signature".
bool nothingAt(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

std::string fileNameOf(const std::string& path) {
    return fs::path(path).filename().string();
}

// The signature checked with every trusted key of its ID: the first that passes
// makes the image trusted; else the failure that says most (a comment that
// passed and names the file it was made for beats one that did not pass).
SignatureVerdict& checkWithKeys(SignatureVerdict& verdict, const SignatureFile& signature,
                                const std::vector<const TrustedKey*>& keys, const std::string& imagePath,
                                const std::uint8_t* bytes, std::size_t size) {
    SignatureCheck closest = SignatureCheck::CommentChanged;
    for (const TrustedKey* key : keys) {
        const SignatureCheck check = checkSignature(key->key, signature, bytes, size);
        if (check == SignatureCheck::Valid) {
            verdict.state = SignatureState::Trusted;
            verdict.commentVerified = true;
            verdict.keyFile = key->file;
            return verdict;
        }
        if (check == SignatureCheck::BytesDiffer) closest = check;
    }
    if (closest == SignatureCheck::CommentChanged)
        return refuse(verdict, SignatureRefusal::CommentChanged,
                      messages::commentChanged(verdict.signatureFile));
    verdict.commentVerified = true;
    if (commentNamesOtherFile(signature.trustedComment, fileNameOf(imagePath))) {
        return refuse(verdict, SignatureRefusal::OtherFile,
                      messages::otherFile(imagePath, verdict.signatureFile,
                                          *commentField(signature.trustedComment, "file")));
    }
    return refuse(verdict, SignatureRefusal::BadSignature,
                  messages::badSignature(imagePath, verdict.signatureFile, verdict.keyId));
}

}  // namespace

bool systemRequiresSigned(const fs::path& systemFolder) {
    SilentConsole console;
    return readConfigFile((systemFolder / kConfigFileName).string(), console).config.requireSigned;
}

SignatureVerdict judgeImageSignature(const std::string& imagePath, const std::uint8_t* bytes,
                                     std::size_t size, const TrustSettings& settings) {
    SignatureVerdict verdict;
    verdict.signatureFile = imagePath + kSignatureSuffix;
    const bool configRequires = settings.requireSignedByConfig || systemRequiresSigned(settings.systemFolder);
    if (configRequires && !settings.benchKeyFolders.empty())
        return refuse(verdict, SignatureRefusal::BenchKeysRefused,
                      messages::benchKeysRefused(settings.systemFolder.string()));
    const TrustStoreLoad load = loadTrustStore(settings.systemFolder, settings.benchKeyFolders);
    const TrustStore& store = load.store;
    verdict.notes = store.notes;
    verdict.trustedKeyCount = store.keys.size();
    if (!load.error.empty()) return refuse(verdict, SignatureRefusal::BenchKeysUnusable, load.error);

    if (nothingAt(verdict.signatureFile)) {
        if (configRequires || settings.requireSignedOption)
            return refuse(verdict, SignatureRefusal::Unsigned,
                          messages::unsignedRefused(imagePath, verdict.signatureFile));
        // Unsigned images pass, but whoever keeps the list should hear it is broken.
        if (!store.revocationProblem.empty())
            verdict.notes.push_back(messages::revocationListUnusable(store.revocationProblem));
        return verdict;
    }
    std::string error;
    const auto text = readRegularFile(verdict.signatureFile, error, kLargestSignatureFileBytes);
    const auto signature = text ? parseSignatureFile(*text, error) : std::nullopt;
    if (!signature)
        return refuse(verdict, SignatureRefusal::UnreadableSignature,
                      messages::signatureUnusable(verdict.signatureFile, error));
    verdict.signatureRead = true;
    verdict.keyId = keyIdText(signature->keyId);
    verdict.form = signature->form;
    verdict.trustedComment = signature->trustedComment;

    if (!store.revocationProblem.empty())
        return refuse(verdict, SignatureRefusal::RevocationListUnusable,
                      messages::revocationListUnusable(store.revocationProblem));
    if (store.isRevoked(signature->keyId))
        return refuse(verdict, SignatureRefusal::RevokedKey,
                      messages::revokedKey(imagePath, verdict.keyId, store.revokedKeysFile));
    const std::vector<const TrustedKey*> keys = store.keysWithId(signature->keyId);
    if (keys.empty())
        return refuse(verdict, SignatureRefusal::UnknownKey,
                      messages::unknownKey(imagePath, verdict.keyId, store.keyFolders));
    return checkWithKeys(verdict, *signature, keys, imagePath, bytes, size);
}

}  // namespace velmora::signing
