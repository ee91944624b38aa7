#pragma once
// The words of velmora-testbed: its own options, then the command to run under
// the emulated bus with that command's arguments untouched.
#include <optional>
#include <string>
#include <vector>

#include "device/Clock.h"

namespace velmora::usbfs {

// Short enough for demonstrations, long enough that the program sees the hub gone.
inline constexpr Milliseconds kLauncherRebootTime{300};
// How often the bus is looked at while the command runs.
inline constexpr Milliseconds kLauncherBusLookInterval{20};

struct LauncherOptions {
    std::optional<std::string> configPath;  // the supported hubs; default: the shipped config.ini
    std::string scenario;                   // empty: the default one
    Milliseconds rebootTime = kLauncherRebootTime;
    // The command's waits pass in the testbed's virtual time (for velmora programs,
    // which take their clock from VELMORA_SIMULATED_TIME): resets cost nothing.
    bool virtualTime = false;
    bool help = false;
    std::vector<std::string> command;
    std::string error;  // empty when the words made sense
};

LauncherOptions parseLauncherOptions(const std::vector<std::string>& arguments);

std::string launcherUsage();

}  // namespace velmora::usbfs
