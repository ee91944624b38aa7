#include "app/AppPaths.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/Config.h"
#include "app/GeneralFunction.h"

namespace velmora {
namespace {

bool isFolder(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

const char* resourcesOverride() {
    const char* overridden = std::getenv("VELMORA_RESOURCES");
    return overridden != nullptr && *overridden ? overridden : nullptr;
}

// <prefix>/share/velmora beside the program's <prefix>/bin, when it is there.
std::optional<std::string> installedResourceFolder() {
    const std::filesystem::path installed =
        std::filesystem::path(programFolder()) / ".." / VELMORA_RESOURCE_INSTALL_DIR;
    if (!isFolder(installed)) return std::nullopt;
    return std::filesystem::weakly_canonical(installed).string();
}

}  // namespace

std::string programFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string{} : GeneralFunction::GetDirFromPath(self.string());
}

std::string userDataFolder() {
    // XDG_DATA_HOME counts only when it is an absolute path; a relative one is ignored.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return (std::filesystem::path(dataHome) / "velmora").string();
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return {};
    return (std::filesystem::path(home) / ".local" / "share" / "velmora").string();
}

std::string resourceFolder() {
    if (const char* overridden = resourcesOverride()) return overridden;
    if (const auto installed = installedResourceFolder()) return *installed;
    return VELMORA_SOURCE_RESOURCES;
}

std::string systemConfigFolder() {
    return VELMORA_CONFIG_INSTALL_DIR;
}

std::string defaultConfigFile() {
    if (resourcesOverride() == nullptr && installedResourceFolder()) {
        return systemConfigFolder() + "/" + kConfigFileName;
    }
    return resourceFolder() + "/" + kConfigFileName;
}

}  // namespace velmora
