#include "app/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/SafeFile.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStandardOutput = "-";
// A guarded folder is searched this deep for a second name of the output (a hard
// link): the backup store holds its files one or two levels down.
constexpr int kDeepestSearch = 3;

// What a path names: an existing file by its device and inode, a file still to be
// made by its folder's and its own name.
struct Place {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    bool exists = false;
};

std::optional<Place> placeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return Place{info.st_dev, info.st_ino, {}, true};
    const fs::path named(path);
    const fs::path folder = named.parent_path().empty() ? fs::path(".") : named.parent_path();
    if (::stat(folder.c_str(), &info) != 0) return std::nullopt;
    return Place{info.st_dev, info.st_ino, named.filename().string(), false};
}

bool samePlace(const Place& one, const Place& other) {
    return one.exists == other.exists && one.device == other.device && one.inode == other.inode &&
           one.name == other.name;
}

bool sameIdentity(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// The output lies under folder: one of the folders above it is that folder, by
// identity, or the output is a second name of a file in it.
bool insideFolder(const std::string& output, const std::string& folder) {
    struct stat guarded {};
    if (::stat(folder.c_str(), &guarded) != 0 || !S_ISDIR(guarded.st_mode)) return false;
    std::error_code failure;
    fs::path above = fs::weakly_canonical(fs::absolute(output, failure), failure);
    if (failure) return false;
    for (above = above.parent_path(); !above.empty(); above = above.parent_path()) {
        struct stat info {};
        if (::stat(above.c_str(), &info) == 0 && sameIdentity(info, guarded)) return true;
        if (above == above.root_path()) break;
    }
    struct stat file {};
    if (::stat(output.c_str(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_nlink < 2) return false;
    fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied, failure);
    for (; !failure && entry != fs::recursive_directory_iterator(); entry.increment(failure)) {
        if (entry.depth() >= kDeepestSearch) entry.disable_recursion_pending();
        struct stat info {};
        if (::lstat(entry->path().c_str(), &info) == 0 && S_ISREG(info.st_mode) && sameIdentity(info, file))
            return true;
    }
    return false;
}

// Standard output that the shell opened on a file (read - > FILE): that file must
// not be one the run depends on either. A terminal or a pipe passes.
std::optional<std::string> standardOutputRefusal(const std::vector<GuardedPath>& guarded) {
    struct stat output {};
    if (::fstat(STDOUT_FILENO, &output) != 0 || !S_ISREG(output.st_mode)) return std::nullopt;
    std::error_code failure;
    const std::string opened = fs::read_symlink("/proc/self/fd/1", failure).string();
    for (const GuardedPath& file : guarded) {
        struct stat info {};
        if (file.folder ? !failure && insideFolder(opened, file.path)
                        : ::stat(file.path.c_str(), &info) == 0 && sameIdentity(info, output))
            return std::string("standard output is ") + (file.folder ? "inside " : "") + file.role;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> outputRefusal(const std::string& path, const std::vector<GuardedPath>& guarded) {
    if (path == kStandardOutput) return standardOutputRefusal(guarded);
    struct stat standing {};
    const bool exists = ::lstat(path.c_str(), &standing) == 0;
    std::string why;
    if (exists && S_ISLNK(standing.st_mode) && !checkReplaceableTarget(path, why)) return path + " " + why;
    const std::optional<Place> output = placeOf(path);
    for (const GuardedPath& file : guarded) {
        if (file.path.empty()) continue;
        if (file.folder) {
            if (insideFolder(path, file.path)) return path + " is inside " + file.role;
            continue;
        }
        const std::optional<Place> other = placeOf(file.path);
        if (path == file.path || (output && other && samePlace(*output, *other)))
            return path + " is " + file.role;
    }
    // Root writes wherever it likes: what another user prepared at the path
    // (a link, a world-writable file of theirs) must not receive root's output.
    if (exists && ::geteuid() == 0 && standing.st_uid != 0)
        return path + " belongs to user " + std::to_string(standing.st_uid) +
               "; as root, another user's file is not written";
    return std::nullopt;
}

int createPrivateOutput(const std::string& path, std::string& error) {
    if (!checkReplaceableTarget(path, error)) return -1;
    const fs::path named(path);
    const fs::path folder = named.parent_path().empty() ? fs::path(".") : named.parent_path();
    std::string temporary = (folder / ("." + named.filename().string() + ".XXXXXX")).string();
    // mkostemp makes the file with O_CREAT | O_EXCL, for this user alone.
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) {
        error = std::strerror(errno);
        return -1;
    }
    // The name is swapped, never followed: a link planted at path meanwhile is
    // replaced, not written through.
    if (::fchmod(descriptor, S_IRUSR | S_IWUSR) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(temporary.c_str());
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

}  // namespace velmora
