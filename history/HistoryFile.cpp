#include "history/HistoryFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

namespace velmora::history {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kOwnerOnlyFolder = 0700;
constexpr mode_t kOwnerOnlyFile = 0600;
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

std::string homeFolder() {
    // The password database, not $HOME: see defaultHistoryPath.
    if (const passwd* entry = ::getpwuid(::geteuid());
        entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
        return entry->pw_dir;
    }
    if (::geteuid() == 0) return {};
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? home : std::string{};
}

bool trustedOwner(uid_t owner) {
    return owner == 0 || owner == ::geteuid();
}

std::string describe(const fs::path& path, const std::string& problem) {
    return path.string() + " " + problem;
}

// A folder above the history: another user must not be able to rename what lies
// in it. A sticky folder (like /tmp) lets each user rename only their own entries.
bool safeAncestor(const fs::path& folder, std::string& error) {
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

// The history's own folder: nobody but its owner may add files to it.
bool safeOwnFolder(const fs::path& folder, std::string& error) {
    struct stat info {};
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
    if ((info.st_mode & kWritableByOthers) != 0) {
        error = describe(folder, "is writable by other users");
        return false;
    }
    return true;
}

// folder and every folder above it (by its real path) pass safeAncestor.
bool safeAncestors(const fs::path& folder, std::string& error) {
    std::error_code failure;
    const fs::path real = fs::canonical(folder, failure);
    if (failure) {
        error = describe(folder, failure.message());
        return false;
    }
    for (fs::path above = real; !above.empty(); above = above.parent_path()) {
        if (!safeAncestor(above, error)) return false;
        if (above == above.root_path()) break;
    }
    return true;
}

bool safeFolderChain(const fs::path& folder, std::string& error) {
    return safeOwnFolder(folder, error) && safeAncestors(folder.parent_path(), error);
}

// Nothing is made under a folder another user could rename or fill: root must
// not leave its folders in another user's home.
bool safeToCreateIn(const fs::path& folder, std::string& error) {
    fs::path existing = folder;
    struct stat info {};
    while (::lstat(existing.c_str(), &info) != 0 && existing != existing.root_path()) {
        existing = existing.parent_path();
    }
    return safeAncestors(existing, error);
}

// Creates the missing folders down to folder, each for its owner alone.
bool createFolders(const fs::path& folder, std::string& error) {
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

bool safeFile(const fs::path& file, const struct stat& info, std::string& error) {
    if (!S_ISREG(info.st_mode)) {
        error = describe(file, S_ISLNK(info.st_mode) ? "is a symbolic link" : "is not a regular file");
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = describe(file, "belongs to another user");
        return false;
    }
    return true;
}

// Whatever stands at the path is judged before it is opened: opening a device
// node, even to look at it, can act on the device (a tape rewinds, a modem hangs
// up). The open that follows never follows a link, never waits and never takes a
// terminal, and its descriptor is checked again, so a swap between the look and
// the open gains nothing. Empty when another run created the file in between.
std::optional<bool> openChecked(const fs::path& file, std::string& error) {
    struct stat found {};
    const bool exists = ::lstat(file.c_str(), &found) == 0;
    if (exists && !safeFile(file, found, error)) return false;
    const int flags =
        O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (exists ? 0 : O_CREAT | O_EXCL);
    const int descriptor = ::open(file.c_str(), flags, kOwnerOnlyFile);
    if (descriptor < 0 && !exists && errno == EEXIST) return std::nullopt;
    if (descriptor < 0) {
        error = describe(file, std::strerror(errno));
        return false;
    }
    struct stat info {};
    const bool usable = ::fstat(descriptor, &info) == 0 && safeFile(file, info, error);
    ::close(descriptor);
    return usable;
}

fs::path absolute(const std::string& path) {
    std::error_code failure;
    fs::path result = fs::absolute(path, failure);
    return failure ? fs::path(path) : result.lexically_normal();
}

}  // namespace

std::string defaultHistoryPath() {
    return defaultStatePath(kHistoryFileName);
}

std::string defaultStatePath(const std::string& name) {
    // XDG_STATE_HOME counts only when it is an absolute path, as the XDG rules say.
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    if (stateHome != nullptr && stateHome[0] == '/') {
        return (fs::path(stateHome) / "velmora" / name).string();
    }
    const std::string home = homeFolder();
    if (home.empty()) return {};
    return (fs::path(home) / ".local" / "state" / "velmora" / name).string();
}

bool prepareStateFolder(const std::string& path, FolderCreation folders, std::string& error) {
    const fs::path folder = absolute(path);
    if (folders == FolderCreation::Create &&
        (!safeToCreateIn(folder, error) || !createFolders(folder, error)))
        return false;
    return safeFolderChain(folder, error);
}

bool prepareHistoryFile(const std::string& path, FolderCreation folders, std::string& error) {
    const fs::path file = absolute(path);
    const fs::path folder = file.parent_path();
    if (folders == FolderCreation::Create &&
        (!safeToCreateIn(folder, error) || !createFolders(folder, error)))
        return false;
    if (!safeFolderChain(folder, error)) return false;
    // A run that made the file between our look and our open: look again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const std::optional<bool> usable = openChecked(file, error)) return *usable;
    }
    error = describe(file, std::strerror(EEXIST));
    return false;
}

bool checkHistoryFile(const std::string& path, bool& missing, std::string& error) {
    const fs::path file = absolute(path);
    missing = false;
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            missing = true;
            return true;
        }
        error = describe(file, std::strerror(errno));
        return false;
    }
    return safeFolderChain(file.parent_path(), error) && safeFile(file, info, error);
}

}  // namespace velmora::history
