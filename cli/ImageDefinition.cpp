#include "cli/ImageDefinition.h"

#include <unistd.h>

#include <filesystem>

#include "app/SafeFile.h"
#include "cli/CliText.h"

namespace velmora::cli {
namespace {

// Opened as the reader will open it: a regular file, without blocking on a FIFO.
bool readableRegularFile(const std::string& path, std::string& error) {
    std::string reason;
    const int descriptor = openRegularFile(path, reason);
    if (descriptor < 0) {
        error = text::cannotRead(path, reason);
        return false;
    }
    ::close(descriptor);
    return true;
}

}  // namespace

bool loadDefinition(const std::string& path, const FirmwareBuffer& image, editor::PropertyModel& model,
                    std::string& error) {
    if (!readableRegularFile(path, error)) return false;
    const std::filesystem::path file(path);
    const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
    model.LoadIni(folder, file.filename().string());
    if (!model.loadError().empty()) {
        error = text::cannotRead(path, model.loadError());
        return false;
    }
    if (model.allItemList().empty()) {
        error = text::noProperties(path);
        return false;
    }
    model.RefreshCurValues(image);
    return true;
}

}  // namespace velmora::cli
