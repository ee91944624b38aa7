#include "driver_install/RestartPrompt.h"

namespace velmora::driver {

bool needSignDriverForSystemVersion(std::string_view systemVersion) {
    return systemVersion.find("10.10") != std::string_view::npos;
}

bool restartPromptNeeded(bool needSignDriver, std::string_view snapshot,
                         std::string_view settingInEffect) {
    if (!needSignDriver) return false;
    return snapshot.find(settingInEffect) == std::string_view::npos;
}

}  // namespace velmora::driver
