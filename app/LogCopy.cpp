#include "app/LogCopy.h"

#include <filesystem>
#include <system_error>

namespace velmora {

bool copyLogFile(const std::string& logPath, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_regular_file(logPath, error)) return false;
    fs::create_directories(folder, error);
    if (error) return false;
    // Copied beside the target first and renamed over it, so a failed copy keeps
    // the older one, and a link planted under the copy's name is replaced, not followed.
    const fs::path target = fs::path(folder) / kLogCopyName;
    const fs::path partial = fs::path(folder) / (std::string(".") + kLogCopyName + ".partial");
    fs::remove(partial, error);
    if (!fs::copy_file(logPath, partial, fs::copy_options::overwrite_existing, error)) return false;
    fs::rename(partial, target, error);
    if (error) fs::remove(partial, error);
    return !error;
}

}  // namespace velmora
