#include "device/PortLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace velmora {

namespace {

constexpr const char* kSharedLockFolders[] = {"/run/lock", "/tmp"};
constexpr mode_t kLockFileMode = 0644;  // others may open it read-only to take the lock

bool isWritableFolder(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) && access(path, W_OK | X_OK) == 0;
}

// Opens an existing lock file read-only, or creates it. A file of another user in a
// sticky folder cannot be opened with O_CREAT, hence the two steps. O_NOFOLLOW keeps
// a planted symlink from redirecting the open.
int openLockFile(const std::string& path) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int descriptor = open(path.c_str(), flags);
        if (descriptor >= 0 || errno != ENOENT) return descriptor;
        descriptor = open(path.c_str(), flags | O_CREAT | O_EXCL, kLockFileMode);
        if (descriptor >= 0 || errno != EEXIST) return descriptor;
    }
    return -1;
}

}  // namespace

PortLock& PortLock::operator=(PortLock&& other) noexcept {
    if (this != &other) {
        release();
        descriptor_ = other.descriptor_;
        other.descriptor_ = -1;
    }
    return *this;
}

std::string PortLock::defaultDirectory() {
    for (const char* folder : kSharedLockFolders)
        if (isWritableFolder(folder)) return folder;
    return "/tmp";
}

std::string PortLock::fileName(const std::string& portPath) {
    std::string name = "velmora-usb-";
    for (char c : portPath) {
        const bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          c == '-' || c == '.';
        name += safe ? c : '_';
    }
    return name + ".lock";
}

IOReturn PortLock::acquire(const std::string& portPath, const std::string& directory) {
    release();
    const int descriptor = openLockFile(directory + "/" + fileName(portPath));
    if (descriptor < 0) return kIOReturnNotPermitted;
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        return kIOReturnNotPermitted;
    }
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(descriptor);
        return kIOReturnExclusiveAccess;
    }
    descriptor_ = descriptor;
    return kIOReturnSuccess;
}

void PortLock::release() {
    if (descriptor_ < 0) return;
    // The file stays: removing it would race with a process that just opened it.
    close(descriptor_);
    descriptor_ = -1;
}

}  // namespace velmora
