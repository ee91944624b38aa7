#include "cli/ImageDefinition.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cli/CliText.h"

namespace velmora::cli {

bool loadDefinition(const std::string& path, const FirmwareBuffer& image, editor::PropertyModel& model,
                    std::string& error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        error = text::cannotRead(path, std::strerror(EISDIR));
        return false;
    }
    if (!std::ifstream(path)) {
        error = text::cannotRead(path, std::strerror(errno));
        return false;
    }
    const std::filesystem::path file(path);
    const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
    model.LoadIni(folder, file.filename().string());
    if (model.allItemList().empty()) {
        error = text::noProperties(path);
        return false;
    }
    model.RefreshCurValues(image);
    return true;
}

}  // namespace velmora::cli
