#include "device/LockHolder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

#include "device/PortLock.h"

namespace velmora {
namespace {

// "MAJOR:MINOR:INODE" as /proc/locks writes it: the device numbers in hex, the
// inode in decimal.
bool sameFile(const std::string& field, const struct stat& file) {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long long inode = 0;
    char separator1 = 0;
    char separator2 = 0;
    std::istringstream in(field);
    in >> std::hex >> major >> separator1 >> minor >> separator2 >> std::dec >> inode;
    if (!in || separator1 != ':' || separator2 != ':') return false;
    return major == major(file.st_dev) && minor == minor(file.st_dev) && inode == file.st_ino;
}

std::string commandName(const std::filesystem::path& procRoot, pid_t pid) {
    std::ifstream comm(procRoot / std::to_string(pid) / "comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

}  // namespace

std::optional<LockHolder> findLockHolder(const std::filesystem::path& lockFile,
                                         const std::filesystem::path& procRoot) {
    struct stat file {};
    if (stat(lockFile.c_str(), &file) != 0) return std::nullopt;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; blocked waiters ("1: -> FLOCK ...")
    // do not hold the lock and are skipped.
    std::ifstream locks(procRoot / "locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long long pid = 0;
        if (!(fields >> number >> kind) || kind == "->") continue;
        if (!(fields >> mode >> access >> pid >> where) || !sameFile(where, file)) continue;
        if (pid <= 0) return LockHolder{};
        const auto holder = static_cast<pid_t>(pid);
        return LockHolder{holder, commandName(procRoot, holder)};
    }
    return std::nullopt;
}

std::filesystem::path portLockFile(const std::string& portPath) {
    return std::filesystem::path(PortLock::defaultDirectory()) / PortLock::fileName(portPath);
}

}  // namespace velmora
