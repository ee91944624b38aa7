#pragma once
// Which process holds a port's advisory lock (PortLock), so a user told that the
// hub is busy also learns who to close.
#include <sys/types.h>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct LockHolder {
    pid_t pid = 0;     // 0 when the holder's pid cannot be known (another PID namespace)
    std::string name;  // the process's command name; empty when it cannot be read
};

// The holder of the flock on lockFile, as the kernel lists it in procRoot's
// "locks" (/proc/locks). Nothing when the file is missing or no lock on it is
// listed; the lock of a process in another PID namespace may show no usable pid.
std::optional<LockHolder> findLockHolder(const std::filesystem::path& lockFile,
                                         const std::filesystem::path& procRoot = "/proc");

// A port whose lock file a live process holds now.
struct HeldPortLock {
    std::string portPath;
    LockHolder holder;
};

// Every port lock in folder that a process other than ownPid holds. The kernel
// lists a lock only while its holder lives, so a lock file left by a run that has
// ended (or crashed) is not held.
std::vector<HeldPortLock> findHeldPortLocks(const std::filesystem::path& folder, pid_t ownPid,
                                            const std::filesystem::path& procRoot = "/proc");

// "process 1234 (velmora-cli)", or "another run" when its pid is not known.
std::string lockHolderText(const LockHolder& holder);

// The lock file of a port in the folder every run shares.
std::filesystem::path portLockFile(const std::string& portPath);

}  // namespace velmora
