#include "app/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "app/SafeFile.h"

namespace velmora {
namespace {

constexpr mode_t kOwnerOnly = 0700;
constexpr const char* kFolderName = "velmora";
constexpr const char* kSharedTemporaryFolder = "/tmp";

bool isPrivateFolder(const std::filesystem::path& folder) {
    std::string unused;
    return checkPrivateFolder(folder, unused);
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
