#include "workflows/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace velmora {
namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as for any new file
constexpr const char* kTemporarySuffix = ".XXXXXX";

mode_t permissionsFor(const std::string& path) {
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) return existing.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return kNewFileMode & ~mask;
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

}  // namespace

FileWriteResult writeFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
    std::string pattern = path + kTemporarySuffix;
    std::vector<char> temporaryName(pattern.begin(), pattern.end());
    temporaryName.push_back('\0');
    const int descriptor = ::mkstemp(temporaryName.data());
    if (descriptor < 0) return failure(errno);

    const bool complete = writeAll(descriptor, bytes, size) &&
                          ::fchmod(descriptor, permissionsFor(path)) == 0 && ::fsync(descriptor) == 0;
    const int writeError = errno;
    const bool closed = ::close(descriptor) == 0;
    if (!complete || !closed) {
        ::unlink(temporaryName.data());
        return failure(complete ? errno : writeError);
    }
    if (::rename(temporaryName.data(), path.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporaryName.data());
        return failure(renameError);
    }
    return {true, {}};
}

}  // namespace velmora
