#pragma once
// The keys a signature may come from. The system's are the "*.pub" files of
// <system folder>/trusted-keys (/etc/velmora/trusted-keys for an installed
// program), several at once so that a new release key can stand beside the old
// one; a bench may add a folder of its own for one command. A key ID listed in
// <system folder>/revoked-keys is never trusted, wherever its key is found.
//
// Whoever could write these files could make a root run flash anything, so they
// count only under the rules of app/SafeFile.h for protected files: the files and
// their folder belong to root (or the running user) and no other user may write
// them. A key file that breaks the rule is passed over (the store keeps a note
// why); a revocation list that breaks it, or cannot be read, trusts no key at
// all, since the keys it would revoke cannot be told.
#include <filesystem>
#include <string>
#include <vector>

#include "signing/MinisignFormat.h"

namespace velmora::signing {

inline constexpr const char* kTrustedKeysFolderName = "trusted-keys";
inline constexpr const char* kRevokedKeysFileName = "revoked-keys";
inline constexpr const char* kPublicKeySuffix = ".pub";
inline constexpr std::size_t kLargestKeyFileBytes = 4096;
inline constexpr std::size_t kLargestRevocationListBytes = 1024 * 1024;

struct TrustedKey {
    PublicKey key;
    std::string file;  // where it was found
};

struct TrustStore {
    std::vector<TrustedKey> keys;
    std::vector<KeyId> revoked;
    std::string revokedKeysFile;          // the list's path, for messages
    std::string revocationProblem;        // set: the list is there but cannot be used
    std::vector<std::string> keyFolders;  // the folders looked in, for messages
    std::vector<std::string> notes;       // what was passed over, and why

    bool isRevoked(const KeyId& id) const;
    // Every key with this ID (two files may hold keys of one ID; each is tried).
    std::vector<const TrustedKey*> keysWithId(const KeyId& id) const;
};

struct TrustStoreLoad {
    TrustStore store;
    std::string error;  // a bench folder that cannot be used: the command is refused
};

// systemFolder: the system's configuration folder (app/AppPaths.h), or a test's
// stand-in for it. benchFolders: folders named for this command (--trusted-keys).
TrustStoreLoad loadTrustStore(const std::filesystem::path& systemFolder,
                              const std::vector<std::string>& benchFolders);

// The key IDs a revocation list names: one per line, in hex as
// "image verify" and minisign show them; blank lines and text after '#' are
// ignored. Nothing, with error naming the line, for a line that is no key ID.
std::optional<std::vector<KeyId>> parseRevocationList(std::string_view text, std::string& error);

}  // namespace velmora::signing
