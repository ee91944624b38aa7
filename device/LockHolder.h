#pragma once
// Which process holds a port's advisory lock (PortLock), so a user told that the
// hub is busy also learns who to close.
#include <sys/types.h>
#include <filesystem>
#include <optional>
#include <string>

namespace velmora {

struct LockHolder {
    pid_t pid = 0;
    std::string name;  // the process's command name; empty when it cannot be read
};

// The holder of the flock on lockFile, as the kernel lists it in procRoot's
// "locks" (/proc/locks). Nothing when the file is missing or no lock on it is
// listed; the lock of a process in another PID namespace may show no usable pid.
std::optional<LockHolder> findLockHolder(const std::filesystem::path& lockFile,
                                         const std::filesystem::path& procRoot = "/proc");

// The lock file of a port in the folder every run shares.
std::filesystem::path portLockFile(const std::string& portPath);

}  // namespace velmora
