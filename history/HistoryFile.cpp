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

#include "app/SafeFile.h"

namespace velmora::history {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kOwnerOnlyFile = 0600;

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

std::string describe(const fs::path& path, const std::string& problem) {
    return path.string() + " " + problem;
}

// The history's own folder, and every folder above it.
bool safeFolderChain(const fs::path& folder, std::string& error) {
    return checkOwnFolder(folder, error) && checkSafeAncestors(folder.parent_path(), error);
}

// Whatever stands at the path is judged before it is opened: opening a device
// node, even to look at it, can act on the device (a tape rewinds, a modem hangs
// up). The open that follows never follows a link, never waits and never takes a
// terminal, and its descriptor is checked again, so a swap between the look and
// the open gains nothing. Empty when another run created the file in between.
std::optional<bool> openChecked(const fs::path& file, std::string& error) {
    struct stat found {};
    const bool exists = ::lstat(file.c_str(), &found) == 0;
    if (exists && !checkOwnRegularFile(file, found, error)) return false;
    const int flags = O_RDWR | kNoFollowOpenFlags | (exists ? 0 : O_CREAT | O_EXCL);
    const int descriptor = ::open(file.c_str(), flags, kOwnerOnlyFile);
    if (descriptor < 0 && !exists && errno == EEXIST) return std::nullopt;
    if (descriptor < 0) {
        error = describe(file, std::strerror(errno));
        return false;
    }
    struct stat info {};
    const bool usable = ::fstat(descriptor, &info) == 0 && checkOwnRegularFile(file, info, error);
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
        (!checkSafeToCreateIn(folder, error) || !createOwnerOnlyFolders(folder, error)))
        return false;
    return safeFolderChain(folder, error);
}

bool prepareHistoryFile(const std::string& path, FolderCreation folders, std::string& error) {
    const fs::path file = absolute(path);
    const fs::path folder = file.parent_path();
    if (folders == FolderCreation::Create &&
        (!checkSafeToCreateIn(folder, error) || !createOwnerOnlyFolders(folder, error)))
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
    return safeFolderChain(file.parent_path(), error) && checkOwnRegularFile(file, info, error);
}

}  // namespace velmora::history
