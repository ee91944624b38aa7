#include "driver_install/RestartPrompt.h"

namespace velmora::driver {

bool restartPromptNeeded(bool needSignDriver, std::string_view snapshot, std::string_view settingInEffect) {
    if (!needSignDriver) return false;
    return snapshot.find(settingInEffect) == std::string_view::npos;
}

}  // namespace velmora::driver
