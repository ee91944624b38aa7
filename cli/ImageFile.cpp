#include "cli/ImageFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/SafeFile.h"
#include "cli/CliText.h"

namespace velmora::cli {
namespace {

// The file is opened as the loader will open it: a regular file, without blocking.
bool readableRegularFile(const std::string& path, struct stat& status, std::string& error) {
    const int descriptor = openRegularFile(path, error, &status);
    if (descriptor < 0) {
        error = text::cannotRead(path, error);
        return false;
    }
    ::close(descriptor);
    return true;
}

bool imageSizeUsable(const std::string& path, const struct stat& status, std::string& error) {
    if (status.st_size == 0) {
        error = text::emptyFile(path);
        return false;
    }
    if (static_cast<std::size_t>(status.st_size) < image::kMinimumImageBytes) {
        error = text::shortImage(path, static_cast<long long>(status.st_size));
        return false;
    }
    return true;
}

}  // namespace

bool loadImageFile(const std::string& path, FirmwareBuffer& buffer, std::string& error, ImageUse use) {
    struct stat status {};
    if (!readableRegularFile(path, status, error) || !imageSizeUsable(path, status, error)) return false;
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

bool outputPathUsable(const std::string& path, std::string& error) {
    if (path == text::kStandardOutputName) return true;
    std::string reason;
    if (!checkWritableFolder(containingFolder(path), reason) || !checkReplaceableTarget(path, reason)) {
        error = text::cannotWrite(path, reason);
        return false;
    }
    return true;
}

}  // namespace velmora::cli
