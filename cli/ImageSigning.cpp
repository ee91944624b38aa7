#include "cli/ImageSigning.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <filesystem>

#include "app/AppPaths.h"
#include "app/AtomicFile.h"
#include "app/Config.h"
#include "app/Console.h"
#include "app/SafeFile.h"
#include "cli/CliText.h"
#include "cli/ImageFile.h"
#include "cli/PasswordPrompt.h"
#include "signing/SignatureVerdict.h"
#include "signing/Signer.h"
#include "signing/SigningMessages.h"
#include "signing/TrustStore.h"
#include "signing/TrustedComment.h"
#include "workflows/EasyUpdate.h"

namespace velmora::cli {
namespace {

constexpr unsigned kSecretKeyPermissions = 0600;
constexpr const char* kPublicKeySuffix = ".pub";
constexpr const char* kSecretKeySuffix = ".key";

bool somethingAt(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

bool writeText(const std::string& path, const std::string& text, std::optional<unsigned> permissions,
               std::string& error) {
    const FileWriteResult result = writeFileAtomically(
        path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), permissions);
    if (!result.written) error = text::cannotWrite(path, result.error);
    return result.written;
}

struct KeygenRequest {
    std::string name;
    bool noPassword = false;
};

bool parseKeygen(const CommandContext& command, KeygenRequest& request, std::string& error) {
    ArgumentReader reader(command.arguments);
    while (!reader.done() && error.empty()) {
        if (reader.option("-o", request.name, error) || reader.option("--output", request.name, error))
            continue;
        const std::string word = reader.next();
        if (word == "--no-password") {
            request.noPassword = true;
        } else {
            error = strayWordError("image keygen", word);
        }
    }
    // "keys/" names a folder, not a key pair: its files would be hidden ".pub" and ".key".
    if (error.empty() && std::filesystem::path(request.name).filename().empty())
        error = text::missingArgument("image keygen", "the key pair's name (-o NAME)");
    return error.empty();
}

// A new key pair never replaces a file: a secret key written over is lost for good.
bool keyPathsFree(const std::string& publicPath, const std::string& secretPath, std::string& error) {
    for (const std::string& path : {secretPath, publicPath}) {
        if (somethingAt(path)) {
            error = text::keyFileExists(path);
            return false;
        }
        if (!outputPathUsable(path, error)) return false;
    }
    return true;
}

// The new key's password, typed twice alike.
std::optional<std::string> newPassword(const CommandContext& command, std::string& error) {
    std::optional<std::string> first = askPassword(text::kPasswordPrompt, command.streams.err);
    std::optional<std::string> second =
        first ? askPassword(text::kPasswordAgainPrompt, command.streams.err) : std::nullopt;
    if (!first || !second) {
        error = text::kNoPassword;
    } else if (*first != *second) {
        error = text::kPasswordsDiffer;
    } else if (first->empty()) {
        error = text::kEmptyPassword;
    }
    if (second) signing::wipe(*second);
    if (!error.empty() && first) signing::wipe(*first);
    return error.empty() ? first : std::nullopt;
}

struct SignRequest {
    std::string file;
    std::string keyPath;
    std::string comment;
};

bool parseSign(const CommandContext& command, SignRequest& request, std::string& error) {
    ArgumentReader reader(command.arguments);
    while (!reader.done() && error.empty()) {
        if (reader.option("--key", request.keyPath, error) ||
            reader.option("--comment", request.comment, error))
            continue;
        takeFileWord("image sign", reader.next(), request.file, error);
    }
    if (!error.empty()) return false;
    if (request.file.empty()) {
        error = text::missingArgument("image sign", "the image FILE");
    } else if (request.keyPath.empty()) {
        error = text::missingArgument("image sign", "the secret key (--key NAME.key)");
    } else if (!signing::acceptableNote(request.comment)) {
        error = text::kBadSigningComment;
    }
    return error.empty();
}

// The secret key of the file, opened with its password when it has one.
std::optional<signing::SecretKey> secretKeyFrom(const CommandContext& command, const std::string& path,
                                                std::string& error) {
    std::string reason;
    auto text = readRegularFile(path, reason, signing::kLargestKeyFileBytes);
    const auto file = text ? signing::parseSecretKeyFile(*text, reason) : std::nullopt;
    if (text) signing::wipe(*text);
    std::optional<signing::SecretKey> key;
    if (file && !file->passwordProtected) {
        key = signing::openSecretKey(*file, {}, reason);
    } else if (file) {
        std::optional<std::string> password = askPassword(text::kPasswordPrompt, command.streams.err);
        if (password) {
            key = signing::openSecretKey(*file, *password, reason);
            signing::wipe(*password);
        } else {
            reason = text::kNoPassword;
        }
    }
    if (!key) error = text::keyUnusable(path, reason);
    return key;
}

// The trust of the system, with the command line's folders and --require-signed,
// and a named configuration's RequireSigned.
signing::TrustSettings trustSettingsOf(const CliOptions& options) {
    signing::TrustSettings settings;
    settings.benchKeyFolders = options.trustedKeyFolders;
    settings.requireSignedOption = options.requireSigned;
    if (options.configPath) {
        SilentConsole console;
        settings.requireSignedByConfig = readConfigFile(*options.configPath, console).config.requireSigned;
    }
    return settings;
}

// The one image FILE a command takes, with no options of its own.
bool parseOneImage(const CommandContext& command, const std::string& name, std::string& file,
                   std::string& error) {
    for (const std::string& word : command.arguments) {
        if (error.empty()) takeFileWord(name, word, file, error);
    }
    if (error.empty() && file.empty()) error = text::missingArgument(name, "the image FILE");
    return error.empty();
}

}  // namespace

ExitStatus runImageKeygen(const CommandContext& command) {
    KeygenRequest request;
    std::string error;
    if (!parseKeygen(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    const std::string publicKeyPath = request.name + kPublicKeySuffix;
    const std::string secretKeyPath = request.name + kSecretKeySuffix;
    if (!keyPathsFree(publicKeyPath, secretKeyPath, error)) return command.fail(ExitStatus::BadUsage, error);
    std::optional<std::string> password;
    if (!request.noPassword && !(password = newPassword(command, error)))
        return command.fail(ExitStatus::BadUsage, error);

    const signing::KeyPair pair = signing::generateKeyPair();
    std::string secretText =
        signing::secretKeyFileText(signing::sealSecretKey(pair.secretKey, password ? &*password : nullptr));
    if (password) signing::wipe(*password);
    const bool secretWritten = writeText(secretKeyPath, secretText, kSecretKeyPermissions, error);
    signing::wipe(secretText);
    if (!secretWritten) return command.fail(ExitStatus::BadUsage, error);
    if (!writeText(publicKeyPath, signing::publicKeyFileText(pair.publicKey), std::nullopt, error)) {
        // Half a key pair is of no use; the secret key was made by this run alone.
        ::unlink(secretKeyPath.c_str());
        return command.fail(ExitStatus::BadUsage, error);
    }
    command.streams.out << text::keyPairWritten(signing::keyIdText(pair.publicKey.id), publicKeyPath,
                                                secretKeyPath, systemConfigFolder());
    return ExitStatus::Success;
}

ExitStatus runImageSign(const CommandContext& command) {
    SignRequest request;
    std::string error;
    if (!parseSign(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    const ImageAdmission admission = imageToEdit(request.file, error);
    if (!admission.admitted()) return command.fail(ExitStatus::BadUsage, error);
    const std::string signaturePath = request.file + signing::kSignatureSuffix;
    if (sameFile(signaturePath, request.keyPath))
        return command.fail(ExitStatus::BadUsage, text::signatureOverKey(signaturePath));
    if (!outputPathUsable(signaturePath, error)) return command.fail(ExitStatus::BadUsage, error);
    const std::optional<signing::SecretKey> key = secretKeyFrom(command, request.keyPath, error);
    if (!key) return command.fail(ExitStatus::BadUsage, error);

    const FirmwareBuffer& image = admission.image;
    signing::ReleaseDetails details;
    details.timestamp = static_cast<std::int64_t>(std::time(nullptr));
    details.fileName = std::filesystem::path(request.file).filename().string();
    details.version = identityOf(image).version;
    details.note = request.comment;
    const signing::SignatureFile signature =
        signing::signBytes(*key, image.data.data(), image.data.size(), signing::releaseComment(details),
                           text::kSignatureComment);
    if (!writeText(signaturePath, signing::signatureFileText(signature), std::nullopt, error))
        return command.fail(ExitStatus::BadUsage, error);
    command.streams.out << text::signatureWritten(signaturePath)
                        << signing::messages::signedBy(signing::keyIdText(key->id), signature.form) << '\n'
                        << signing::messages::trustedCommentLine(signature.trustedComment, true) << '\n';
    return ExitStatus::Success;
}

ExitStatus runImageVerify(const CommandContext& command) {
    std::string file;
    std::string error;
    if (!parseOneImage(command, "image verify", file, error))
        return command.fail(ExitStatus::BadUsage, error);
    const ImageAdmission admission = imageToEdit(file, error);
    if (!admission.admitted()) return command.fail(ExitStatus::BadUsage, error);
    const signing::SignatureVerdict verdict = signing::judgeImageSignature(
        file, admission.image.data.data(), admission.image.data.size(), trustSettingsOf(command.options));
    for (const std::string& note : verdict.notes) command.note(note);
    std::ostream& out = command.streams.out;
    if (verdict.signatureRead) {
        out << text::printable(signing::messages::signedBy(verdict.keyId, verdict.form)) << '\n'
            << text::printable(
                   signing::messages::trustedCommentLine(verdict.trustedComment, verdict.commentVerified))
            << '\n';
    }
    switch (verdict.refusal) {
        case signing::SignatureRefusal::None: break;
        case signing::SignatureRefusal::BenchKeysRefused:
        case signing::SignatureRefusal::BenchKeysUnusable:
            return command.fail(ExitStatus::BadUsage, verdict.reason);
        default: return command.fail(ExitStatus::WorkflowFailed, verdict.reason);
    }
    if (verdict.state == signing::SignatureState::Unsigned) {
        out << text::printable(signing::messages::imageUnsigned(file, verdict.signatureFile)) << '\n';
        return ExitStatus::WorkflowFailed;
    }
    out << text::printable(signing::messages::trustedKey(verdict.keyId, verdict.keyFile)) << '\n';
    return ExitStatus::Success;
}

}  // namespace velmora::cli
