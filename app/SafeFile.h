#pragma once
// Opening files that come from anywhere and replacing files at paths that anyone
// may have prepared. The program often runs as root, in folders other users can
// write (/tmp, /run/lock, a shared bench folder), so:
//  - a file is read only when it is a regular file, and it is opened without
//    blocking, so a FIFO or a device planted at the path cannot hang the run;
//  - an output path is replaced only when nothing or a regular file stands there:
//    a symbolic link, a FIFO or a device is refused, never followed or destroyed;
//  - a replacement never carries the setuid, setgid or sticky bits and takes no
//    permissions from a file another user owns;
//  - a file kept for this user (the history, a lock file) is opened without
//    following a link, in folders no other user can fill or rename.
// Every layer takes these rules from here.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace velmora {

// "a FIFO", "a character device", "a directory", ...: what a path is, for messages.
std::string fileKindName(mode_t mode);

// A descriptor (close-on-exec, blocking again once open) of the regular file at
// path, or -1 with error saying why: the system's reason, or what else the path
// is. status receives the file's status when given.
int openRegularFile(const std::string& path, std::string& error, struct stat* status = nullptr);

// The whole contents of the regular file at path, opened as openRegularFile does;
// nothing, with error, when it cannot be read or holds more than largestBytes.
std::optional<std::string> readRegularFile(const std::string& path, std::string& error,
                                           std::size_t largestBytes = SIZE_MAX);

// False, with error saying why, when the file at path must not be replaced: a
// symbolic link (named with its target) or anything else that is not a regular
// file. A path where nothing exists yet passes.
bool checkReplaceableTarget(const std::string& path, std::string& error);

// True when the two paths name one file: the same text, or two names of one
// existing file (a link to it, another path to its folder). An output that is
// also a command's input must be refused before it is opened for writing.
bool sameFile(const std::string& first, const std::string& second);

// False, with error, when no file can be created in folder: missing, not a
// folder, or not writable by this process.
bool checkWritableFolder(const std::string& folder, std::string& error);

// The permissions a new file gets: 0666 narrowed by the process's umask.
mode_t newFilePermissions();

// The permissions for a file that replaces existing: its own permission bits when
// this process's user owns it (without setuid, setgid and sticky), else those of a
// new file.
mode_t replacementPermissions(const struct stat& existing);

// An open that never follows a symbolic link, never waits on a FIFO or a device,
// never takes a terminal and is closed on exec. With O_RDONLY or O_RDWR (and
// O_CREAT | O_EXCL to make the file).
inline constexpr int kNoFollowOpenFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// Files and folders of this user's that other users must not touch. Each check is
// false, with error "<path> <what is wrong>", when the rule does not hold.

// root or this process's user: the owners a folder on the way may have.
bool trustedOwner(uid_t owner);
// folder and every folder above it (by its real path): owned by a trusted owner,
// and not writable by other users unless sticky (like /tmp, where each user may
// rename only their own entries).
bool checkSafeAncestors(const std::filesystem::path& folder, std::string& error);
// A folder of this user's own: a real folder (no link), of a trusted owner, to
// which nobody but its owner may add files.
bool checkOwnFolder(const std::filesystem::path& folder, std::string& error);
// A folder only this user can enter: a real folder owned by this user, closed to
// group and others.
bool checkPrivateFolder(const std::filesystem::path& folder, std::string& error);
// What is to be made under folder would not lie under a folder another user could
// rename or fill (checked from the deepest folder that exists).
bool checkSafeToCreateIn(const std::filesystem::path& folder, std::string& error);
// Creates the missing folders down to folder, each for its owner alone (0700).
bool createOwnerOnlyFolders(const std::filesystem::path& folder, std::string& error);
// info (of file, from lstat or fstat) shows this user's own regular file.
bool checkOwnRegularFile(const std::filesystem::path& file, const struct stat& info, std::string& error);

// Files whose contents decide what the program trusts (the keys images are
// signed with, the list of revoked keys): what another user could write there,
// they could make root trust. Such a file counts only in a folder that passes
// checkOwnFolder, below folders that pass checkSafeAncestors, and is itself a
// regular file (not a link) of a trusted owner that no other user may write.
bool checkProtectedFolder(const std::filesystem::path& folder, std::string& error);
bool checkProtectedFile(const std::filesystem::path& file, const struct stat& info, std::string& error);
// Reads such a file (the folder is the caller's to check), opened without
// following a link; nothing, with error, when it breaks the rule, cannot be read
// or holds more than largestBytes.
std::optional<std::string> readProtectedFile(const std::filesystem::path& file, std::size_t largestBytes,
                                             std::string& error);

}  // namespace velmora
