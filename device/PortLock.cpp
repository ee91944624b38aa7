#include "device/PortLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "app/SafeFile.h"

namespace velmora {

namespace {

constexpr const char* kSharedLockFolders[] = {"/run/lock", "/tmp"};
constexpr std::string_view kLockFilePrefix = "velmora-usb-";
constexpr std::string_view kLockFileSuffix = ".lock";
constexpr mode_t kLockFileMode = 0644;  // others may open it read-only to take the lock

bool isWritableFolder(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) && access(path, W_OK | X_OK) == 0;
}

// Opens an existing lock file read-only, or creates it. A file of another user in a
// sticky folder cannot be opened with O_CREAT, hence the two steps. O_NOFOLLOW keeps
// a planted symlink from redirecting the open, and O_NONBLOCK a planted FIFO or
// device from blocking it: the caller then refuses anything but a regular file.
//
// The lock folder is shared by every user, so another local user can create the
// lock file first (or open ours) and hold its flock. That user can keep our runs
// away from the hub on that port, which they are refused as busy, and nothing
// more: the file is only ever opened read-only, never followed, truncated or
// written, so its owner gains no write anywhere and no content of ours. This is
// accepted because a user at the machine can keep the hub from us anyway (by
// unplugging it), and the lock must be shared by the runs of every user to keep
// them off one hub; a private folder would split them.
int openLockFile(const std::string& path) {
    const int flags = O_RDONLY | kNoFollowOpenFlags;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int descriptor = open(path.c_str(), flags);
        if (descriptor >= 0 || errno != ENOENT) return descriptor;
        descriptor = open(path.c_str(), flags | O_CREAT | O_EXCL, kLockFileMode);
        if (descriptor >= 0 || errno != EEXIST) return descriptor;
    }
    return -1;
}

std::string lockFileProblem(const std::string& path, const std::string& reason) {
    return "cannot use the lock file '" + path + "': " + reason;
}

}  // namespace

std::string PortLock::defaultDirectory() {
    for (const char* folder : kSharedLockFolders)
        if (isWritableFolder(folder)) return folder;
    return "/tmp";
}

std::string PortLock::fileName(const std::string& portPath) {
    std::string name(kLockFilePrefix);
    for (char c : portPath) {
        const bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          c == '-' || c == '.';
        name += safe ? c : '_';
    }
    return name.append(kLockFileSuffix);
}

std::optional<std::string> PortLock::portPathOf(const std::string& fileName) {
    const std::size_t affixes = kLockFilePrefix.size() + kLockFileSuffix.size();
    if (fileName.size() <= affixes || fileName.compare(0, kLockFilePrefix.size(), kLockFilePrefix) != 0 ||
        fileName.compare(fileName.size() - kLockFileSuffix.size(), kLockFileSuffix.size(), kLockFileSuffix) !=
            0)
        return std::nullopt;
    return fileName.substr(kLockFilePrefix.size(), fileName.size() - affixes);
}

IOReturn PortLock::acquire(const std::string& portPath, const std::string& directory) {
    release();
    error_.clear();
    const std::string path = directory + "/" + fileName(portPath);
    const int descriptor = openLockFile(path);
    if (descriptor < 0) {
        error_ = lockFileProblem(path, errno == ELOOP ? "is a symbolic link" : std::strerror(errno));
        return kIOReturnNotPermitted;
    }
    FileLock lock(descriptor);
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        error_ = lockFileProblem(path, "is " + fileKindName(info.st_mode) + ", not a regular file");
        return kIOReturnNotPermitted;
    }
    if (lock.take(LockWait::No) != FileLock::Outcome::Held) {
        error_ = "another run holds the lock file '" + path + "'";
        return kIOReturnExclusiveAccess;
    }
    lock_ = std::move(lock);
    return kIOReturnSuccess;
}

}  // namespace velmora
