#include "app/SafeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kOwnerOnlyFolder = 0700;
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;
constexpr mode_t kOpenToOthers = 0077;
constexpr mode_t kPermissionBits = 0777;  // never S_ISUID, S_ISGID or S_ISVTX
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

std::string notRegular(mode_t mode) {
    if (S_ISDIR(mode)) return std::strerror(EISDIR);
    return "is " + fileKindName(mode) + ", not a regular file";
}

// The umask as the kernel reports it; reading it with umask() would change it for
// a moment under every other thread.
bool umaskFromProc(mode_t& mask) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        unsigned value = 0;
        if (std::sscanf(line.c_str(), "Umask: %o", &value) == 1) {
            mask = static_cast<mode_t>(value);
            return true;
        }
    }
    return false;
}

std::string linkTarget(const std::string& path) {
    std::vector<char> target(PATH_MAX + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size() - 1);
    return length < 0 ? std::string("?") : std::string(target.data(), static_cast<std::size_t>(length));
}

// Root passes every permission check, yet cannot create files on a read-only or
// pseudo file system: a file is created for a moment, unnamed where the file
// system allows it, so nothing is left behind. 0 when it could be created.
int tryCreatingIn(const std::string& folder) {
    int descriptor = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (descriptor >= 0) {
        ::close(descriptor);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    std::string pattern = folder + "/.velmora-XXXXXX";
    descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0) return errno;
    ::close(descriptor);
    ::unlink(pattern.c_str());
    return 0;
}

std::string describe(const fs::path& path, const std::string& problem) {
    return path.string() + " " + problem;
}

// A folder above: another user must not be able to rename what lies in it.
bool checkSafeAncestor(const fs::path& folder, std::string& error) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        error = describe(folder, std::strerror(errno));
        return false;
    }
    if (!trustedOwner(info.st_uid)) {
        error = describe(folder, "belongs to another user");
        return false;
    }
    if ((info.st_mode & kWritableByOthers) != 0 && (info.st_mode & S_ISVTX) == 0) {
        error = describe(folder, "is writable by other users");
        return false;
    }
    return true;
}

// A real folder (lstat: a link is refused), of a trusted owner.
bool checkRealFolder(const fs::path& folder, struct stat& info, std::string& error) {
    if (::lstat(folder.c_str(), &info) != 0) {
        error = describe(folder, std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = describe(folder, S_ISLNK(info.st_mode) ? "is a symbolic link" : "is not a folder");
        return false;
    }
    if (!trustedOwner(info.st_uid)) {
        error = describe(folder, "belongs to another user");
        return false;
    }
    return true;
}

// Reads what the descriptor holds, up to largestBytes, and closes it. A file that
// grows past the limit while it is read is refused as well.
std::optional<std::string> readWhole(int descriptor, std::size_t largestBytes, std::string& error) {
    std::string contents;
    char chunk[4096];
    ssize_t count = 0;
    while ((count = ::read(descriptor, chunk, sizeof chunk)) != 0) {
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            error = std::strerror(errno);
            ::close(descriptor);
            return std::nullopt;
        }
        contents.append(chunk, static_cast<std::size_t>(count));
        if (contents.size() > largestBytes) {
            error = "holds more than " + std::to_string(largestBytes) + " bytes";
            ::close(descriptor);
            return std::nullopt;
        }
    }
    ::close(descriptor);
    return contents;
}

// info (from lstat or fstat) shows a regular file, not a link to one.
bool checkRealFile(const fs::path& file, const struct stat& info, std::string& error) {
    if (S_ISREG(info.st_mode)) return true;
    error = describe(file, S_ISLNK(info.st_mode) ? "is a symbolic link" : "is not a regular file");
    return false;
}

}  // namespace

std::string fileKindName(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

int openRegularFile(const std::string& path, std::string& error, struct stat* status) {
    // Looked at first, so a device is not even opened (opening some has effects of
    // its own); checked again on the descriptor, since the path may change between.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = notRegular(info.st_mode);
        return -1;
    }
    const int descriptor = ::open(path.c_str(), kReadFlags);
    if (descriptor < 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = S_ISREG(info.st_mode) ? std::strerror(errno) : notRegular(info.st_mode);
        ::close(descriptor);
        return -1;
    }
    // Reads of a regular file never wait; the flag goes so that no later reader is
    // surprised by it.
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    if (status != nullptr) *status = info;
    return descriptor;
}

std::optional<std::string> readRegularFile(const std::string& path, std::string& error,
                                           std::size_t largestBytes) {
    const int descriptor = openRegularFile(path, error);
    if (descriptor < 0) return std::nullopt;
    return readWhole(descriptor, largestBytes, error);
}

bool sameFile(const std::string& first, const std::string& second) {
    if (first == second) return true;
    struct stat one {};
    struct stat other {};
    return ::stat(first.c_str(), &one) == 0 && ::stat(second.c_str(), &other) == 0 &&
           one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

bool checkReplaceableTarget(const std::string& path, std::string& error) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return true;
        error = std::strerror(errno);
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        error = "is a symbolic link to '" + linkTarget(path) + "'; not replaced";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = notRegular(info.st_mode) + "; not replaced";
        return false;
    }
    return true;
}

bool checkWritableFolder(const std::string& folder, std::string& error) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = std::strerror(ENOTDIR);
        return false;
    }
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        error = std::strerror(errno);
        return false;
    }
    const int trial = tryCreatingIn(folder);
    if (trial != 0) {
        error = std::strerror(trial);
        return false;
    }
    return true;
}

mode_t newFilePermissions() {
    mode_t mask = 0;
    if (!umaskFromProc(mask)) {
        mask = ::umask(0);
        ::umask(mask);
    }
    return kNewFileMode & ~mask;
}

mode_t replacementPermissions(const struct stat& existing) {
    if (existing.st_uid != ::geteuid()) return newFilePermissions();
    return existing.st_mode & kPermissionBits;
}

bool trustedOwner(uid_t owner) {
    return owner == 0 || owner == ::geteuid();
}

bool checkSafeAncestors(const fs::path& folder, std::string& error) {
    std::error_code failure;
    const fs::path real = fs::canonical(folder, failure);
    if (failure) {
        error = describe(folder, failure.message());
        return false;
    }
    for (fs::path above = real; !above.empty(); above = above.parent_path()) {
        if (!checkSafeAncestor(above, error)) return false;
        if (above == above.root_path()) break;
    }
    return true;
}

bool checkOwnFolder(const fs::path& folder, std::string& error) {
    struct stat info {};
    if (!checkRealFolder(folder, info, error)) return false;
    if ((info.st_mode & kWritableByOthers) != 0) {
        error = describe(folder, "is writable by other users");
        return false;
    }
    return true;
}

bool checkPrivateFolder(const fs::path& folder, std::string& error) {
    struct stat info {};
    if (!checkRealFolder(folder, info, error)) return false;
    if (info.st_uid != ::geteuid()) {
        error = describe(folder, "belongs to another user");
        return false;
    }
    if ((info.st_mode & kOpenToOthers) != 0) {
        error = describe(folder, "is open to other users");
        return false;
    }
    return true;
}

bool checkSafeToCreateIn(const fs::path& folder, std::string& error) {
    fs::path existing = folder;
    struct stat info {};
    while (::lstat(existing.c_str(), &info) != 0 && existing != existing.root_path()) {
        existing = existing.parent_path();
    }
    return checkSafeAncestors(existing, error);
}

bool createOwnerOnlyFolders(const fs::path& folder, std::string& error) {
    std::vector<fs::path> missing;
    for (fs::path step = folder; !step.empty(); step = step.parent_path()) {
        struct stat info {};
        if (::lstat(step.c_str(), &info) == 0) break;
        missing.push_back(step);
        if (step == step.root_path()) break;
    }
    for (auto step = missing.rbegin(); step != missing.rend(); ++step) {
        if (::mkdir(step->c_str(), kOwnerOnlyFolder) != 0 && errno != EEXIST) {
            error = describe(*step, std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool checkOwnRegularFile(const fs::path& file, const struct stat& info, std::string& error) {
    if (!checkRealFile(file, info, error)) return false;
    if (info.st_uid != ::geteuid()) {
        error = describe(file, "belongs to another user");
        return false;
    }
    return true;
}

bool checkProtectedFolder(const fs::path& folder, std::string& error) {
    // "keys" and "keys/" have a folder above them too: the current one.
    std::error_code failure;
    fs::path absolute = fs::absolute(folder, failure).lexically_normal();
    if (failure) {
        error = describe(folder, failure.message());
        return false;
    }
    if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
    return checkOwnFolder(absolute, error) && checkSafeAncestors(absolute.parent_path(), error);
}

bool checkProtectedFile(const fs::path& file, const struct stat& info, std::string& error) {
    if (!checkRealFile(file, info, error)) return false;
    if (!trustedOwner(info.st_uid)) {
        error = describe(file, "belongs to another user");
        return false;
    }
    if ((info.st_mode & kWritableByOthers) != 0) {
        error = describe(file, "is writable by other users");
        return false;
    }
    return true;
}

std::optional<std::string> readProtectedFile(const fs::path& file, std::size_t largestBytes,
                                             std::string& error) {
    // Looked at first, so a link is named as one and a device is not even opened;
    // checked again on the descriptor, since the path may change between.
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        error = describe(file, std::strerror(errno));
        return std::nullopt;
    }
    if (!checkProtectedFile(file, info, error)) return std::nullopt;
    const int descriptor = ::open(file.c_str(), O_RDONLY | kNoFollowOpenFlags);
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
        error = describe(file, std::strerror(errno));
        if (descriptor >= 0) ::close(descriptor);
        return std::nullopt;
    }
    if (!checkProtectedFile(file, info, error)) {
        ::close(descriptor);
        return std::nullopt;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    auto contents = readWhole(descriptor, largestBytes, error);
    if (!contents) error = describe(file, error);
    return contents;
}

}  // namespace velmora
