#pragma once
// velmora-cli started as a program of its own over the emulated usbfs: it inherits
// umockdev's preload and the testbed folder, so its libusb sees the emulated bus,
// and its waits are served from this process's clock. Its backups go to a state
// folder of the test's own, never the user's.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/Clock.h"

namespace velmora::usbfs::testing {

struct CliChild {
    std::vector<std::string> command;  // the program and its words
    std::filesystem::path outputPath;  // stdout and stderr together
    std::filesystem::path stateFolder;
    std::function<void(pid_t)> started;  // told the program's process id, when given
};

struct CliChildEnd {
    int exitStatus = -1;  // -1 when it did not start or did not exit by itself
    int signal = 0;       // the signal that ended it
    std::string output;
};

// Runs the child to its end, its waits served by clock.
CliChildEnd runCliChild(Clock& servedClock, const CliChild& child);

}  // namespace velmora::usbfs::testing
