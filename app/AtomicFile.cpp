#include "app/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "app/SafeFile.h"

namespace velmora {
namespace {

constexpr mode_t kPrivateMode = 0600;  // until the file is complete and gets its own
constexpr int kNameAttempts = 100;
constexpr const char* kNameCharacters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kNameCharacterCount = 62;
constexpr std::size_t kSuffixLength = 6;

std::string folderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

mode_t permissionsFor(const std::string& path) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        return replacementPermissions(existing);
    }
    return newFilePermissions();
}

std::string temporaryName(const std::string& path) {
    static thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kNameCharacterCount - 1);
    std::string name = path + ".";
    for (std::size_t index = 0; index < kSuffixLength; ++index) name += kNameCharacters[pick(generator)];
    return name;
}

bool writeAll(int descriptor, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

FileWriteResult failure(int error) {
    return {false, std::strerror(error)};
}

// The temporary file: unnamed where the file system allows it (name empty),
// else a named one beside the target.
struct Temporary {
    int descriptor = -1;
    std::string name;
};

Temporary createTemporary(const std::string& path) {
    Temporary temporary;
    temporary.descriptor = ::open(folderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kPrivateMode);
    if (temporary.descriptor >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return temporary;
    }
    std::string pattern = path + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    temporary.descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (temporary.descriptor >= 0) temporary.name = name.data();
    return temporary;
}

// Gives the unnamed file the name; through /proc when linking by descriptor needs
// a privilege this process lacks.
int linkUnnamed(int descriptor, const std::string& name) {
    if (::linkat(descriptor, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != EPERM && errno != ENOENT && errno != EINVAL) return -1;
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
}

// A new target is created by the link itself. An existing one is replaced by a
// rename from a random name beside it, the only moment a named temporary exists.
int publishUnnamed(int descriptor, const std::string& path) {
    if (linkUnnamed(descriptor, path) == 0) return 0;
    if (errno != EEXIST) return errno;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = temporaryName(path);
        if (linkUnnamed(descriptor, name) != 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        if (::rename(name.c_str(), path.c_str()) == 0) return 0;
        const int error = errno;
        ::unlink(name.c_str());
        return error;
    }
    return EEXIST;
}

int publish(const Temporary& temporary, const std::string& path) {
    if (temporary.name.empty()) return publishUnnamed(temporary.descriptor, path);
    return ::rename(temporary.name.c_str(), path.c_str()) == 0 ? 0 : errno;
}

}  // namespace

FileWriteResult writeFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                                    std::optional<unsigned> permissions) {
    std::string refusal;
    if (!checkReplaceableTarget(path, refusal)) return {false, refusal};
    const Temporary temporary = createTemporary(path);
    if (temporary.descriptor < 0) return failure(errno);

    const bool complete =
        writeAll(temporary.descriptor, bytes, size) &&
        ::fchmod(temporary.descriptor,
                 permissions ? static_cast<mode_t>(*permissions & 0777) : permissionsFor(path)) == 0 &&
        ::fsync(temporary.descriptor) == 0;
    int error = complete ? 0 : errno;
    if (complete) error = publish(temporary, path);
    ::close(temporary.descriptor);
    if (error != 0) {
        if (!temporary.name.empty()) ::unlink(temporary.name.c_str());
        return failure(error);
    }
    return {true, {}};
}

}  // namespace velmora
