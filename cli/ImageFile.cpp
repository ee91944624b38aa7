#include "cli/ImageFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/CliText.h"

namespace velmora::cli {

bool loadImageFile(const std::string& path, FirmwareBuffer& buffer, std::string& error, ImageUse use) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = text::cannotRead(path, std::strerror(errno));
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        error = text::cannotRead(path, std::strerror(EISDIR));
        return false;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        error = text::cannotRead(path, std::strerror(errno));
        return false;
    }
    if (status.st_size == 0) {
        error = text::emptyFile(path);
        return false;
    }
    if (static_cast<std::size_t>(status.st_size) < image::kMinimumImageBytes) {
        error = text::shortImage(path, static_cast<long long>(status.st_size));
        return false;
    }
    if (!imageSizeAllowed(path, static_cast<long long>(status.st_size), use, error)) return false;
    if (!FW_LoadFile(buffer, path) || !buffer.loaded) {
        error = text::noConfigurationBlock(path);
        return false;
    }
    return true;
}

std::string containingFolder(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool outputFolderUsable(const std::string& path, std::string& error) {
    const std::string folder = containingFolder(path);
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        error = text::cannotWrite(path, std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        error = text::cannotWrite(path, std::strerror(ENOTDIR));
        return false;
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        error = text::cannotWrite(path, std::strerror(EISDIR));
        return false;
    }
    return true;
}

}  // namespace velmora::cli
