#include "signing/TrustStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "app/SafeFile.h"
#include "signing/SigningMessages.h"

namespace velmora::signing {
namespace {

namespace fs = std::filesystem;

bool somethingAt(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The "*.pub" files of folder, in name order so every run finds them alike.
std::vector<fs::path> keyFilesIn(const fs::path& folder, std::vector<std::string>& notes) {
    std::vector<fs::path> files;
    std::error_code failure;
    for (fs::directory_iterator entry(folder, failure), end; !failure && entry != end;
         entry.increment(failure)) {
        if (entry->path().extension() == kPublicKeySuffix) files.push_back(entry->path());
    }
    if (failure) notes.push_back(messages::keysNotUsed(folder.string() + " " + failure.message()));
    std::sort(files.begin(), files.end());
    return files;
}

void addKeysIn(const fs::path& folder, TrustStore& store) {
    store.keyFolders.push_back(folder.string());
    for (const fs::path& file : keyFilesIn(folder, store.notes)) {
        std::string error;
        const auto text = readProtectedFile(file, kLargestKeyFileBytes, error);
        std::optional<PublicKey> key;
        if (text) {
            key = parsePublicKeyFile(*text, error);
            if (!key) error = file.string() + ": " + error;
        }
        if (key) {
            store.keys.push_back({*key, file.string()});
        } else {
            store.notes.push_back(messages::keysNotUsed(error));
        }
    }
}

void readRevocations(const fs::path& systemFolder, TrustStore& store) {
    const fs::path list = systemFolder / kRevokedKeysFileName;
    store.revokedKeysFile = list.string();
    if (!somethingAt(list)) return;
    std::string error;
    std::optional<std::string> text;
    if (checkProtectedFolder(systemFolder, error))
        text = readProtectedFile(list, kLargestRevocationListBytes, error);
    std::optional<std::vector<KeyId>> revoked;
    if (text) {
        revoked = parseRevocationList(*text, error);
        if (!revoked) error = list.string() + " " + error;
    }
    if (revoked) {
        store.revoked = std::move(*revoked);
    } else {
        store.revocationProblem = error;
    }
}

}  // namespace

bool TrustStore::isRevoked(const KeyId& id) const {
    return std::find(revoked.begin(), revoked.end(), id) != revoked.end();
}

std::vector<const TrustedKey*> TrustStore::keysWithId(const KeyId& id) const {
    std::vector<const TrustedKey*> found;
    for (const TrustedKey& trusted : keys) {
        if (trusted.key.id == id) found.push_back(&trusted);
    }
    return found;
}

TrustStoreLoad loadTrustStore(const fs::path& systemFolder, const std::vector<std::string>& benchFolders) {
    TrustStoreLoad load;
    TrustStore& store = load.store;
    readRevocations(systemFolder, store);
    const fs::path systemKeys = systemFolder / kTrustedKeysFolderName;
    std::string error;
    if (!somethingAt(systemKeys)) {
        store.keyFolders.push_back(systemKeys.string());
    } else if (checkProtectedFolder(systemKeys, error)) {
        addKeysIn(systemKeys, store);
    } else {
        store.keyFolders.push_back(systemKeys.string());
        store.notes.push_back(messages::keysNotUsed(error));
    }
    for (const std::string& folder : benchFolders) {
        if (!checkProtectedFolder(folder, error)) {
            load.error = messages::benchFolderUnusable(folder, error);
            return load;
        }
        addKeysIn(folder, store);
    }
    return load;
}

std::optional<std::vector<KeyId>> parseRevocationList(std::string_view text, std::string& error) {
    std::vector<KeyId> revoked;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const std::optional<KeyId> id = keyIdFromText(line);
        if (!id) {
            error = messages::notAKeyId(lineNumber, line);
            return std::nullopt;
        }
        revoked.push_back(*id);
    }
    return revoked;
}

}  // namespace velmora::signing
