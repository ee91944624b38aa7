#pragma once
// "driver load" and "driver unload": installing and removing the update driver,
// as the window's help box buttons do.
#include <string>

#include "cli/CommandContext.h"
#include "driver_install/CommandRunners.h"

namespace velmora::cli {

// What the driver commands run their scripts with.
struct DriverTools {
    driver::PrivilegedRunner& privileged;
    driver::ShellRunner& shell;
    std::string resourcePath;  // where the scripts and the bundle are taken from
};

// With pkexec (or the script itself when already root), the shell, and the
// installed resource folder.
ExitStatus runDriver(const CommandContext& command);
// The same with other tools (tests record what would run).
ExitStatus runDriverWith(const CommandContext& command, const DriverTools& tools);

}  // namespace velmora::cli
