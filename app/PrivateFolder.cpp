#include "app/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace velmora {
namespace {

constexpr mode_t kOwnerOnly = 0700;
constexpr mode_t kOthersBits = 0077;
constexpr const char* kFolderName = "velmora";
constexpr const char* kSharedTemporaryFolder = "/tmp";

bool isPrivateFolder(const std::filesystem::path& folder) {
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0) return false;
    return S_ISDIR(status.st_mode) && status.st_uid == geteuid() && (status.st_mode & kOthersBits) == 0;
}

}  // namespace

std::optional<std::filesystem::path> privateFolderIn(const std::filesystem::path& base,
                                                     const std::filesystem::path& name) {
    const std::filesystem::path folder = base / name;
    if (mkdir(folder.c_str(), kOwnerOnly) != 0 && errno != EEXIST) return std::nullopt;
    if (!isPrivateFolder(folder)) return std::nullopt;
    return folder;
}

std::optional<std::filesystem::path> privateRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        if (auto folder = privateFolderIn(runtime, kFolderName)) return folder;
    }
    return privateFolderIn(kSharedTemporaryFolder,
                           std::string(kFolderName) + "-" + std::to_string(geteuid()));
}

}  // namespace velmora
