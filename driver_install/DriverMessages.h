#pragma once
// The words for a driver action that did not do all it should, one line each and
// without a trailing newline; both front ends show exactly these (the command line
// on standard error with exit status 1, the window in its own way).
#include <string>
#include <vector>

#include "driver_install/DriverInstaller.h"

namespace velmora::driver {

// A load with no private runtime folder to copy the driver's files into: the
// console line, and the alert the window shows.
inline constexpr const char* kNoPrivateFolderLine =
    "Enter LoadUpdateDriver: no private folder for the driver bundle; nothing done";
inline constexpr const char* kNoPrivateFolderAlert =
    "Driver load failed: no private folder for the driver's files (XDG_RUNTIME_DIR or /tmp)";

// Nothing when the outcome is a success. A hub that could not be opened for its
// reset gets a line too, though it does not make the unload a failure.
std::vector<std::string> loadOutcomeLines(const LoadOutcome& outcome, const std::string& resourcePath);
std::vector<std::string> unloadOutcomeLines(const UnloadOutcome& outcome, const std::string& resourcePath);

}  // namespace velmora::driver
