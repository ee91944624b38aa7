#include "device/LockHolder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

#include "app/Hex.h"
#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "device/PortLock.h"

namespace velmora {
namespace {

// One lock the kernel lists: the file it is on ("MAJOR:MINOR:INODE") and its holder.
struct ListedLock {
    std::string where;
    long long pid = 0;
};

// "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; blocked waiters ("1: -> FLOCK ...")
// do not hold the lock and are skipped.
std::vector<ListedLock> listedLocks(const std::filesystem::path& procRoot) {
    std::vector<ListedLock> listed;
    std::ifstream locks(procRoot / "locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access;
        ListedLock lock;
        if (!(fields >> number >> kind) || kind == "->") continue;
        if (fields >> mode >> access >> lock.pid >> lock.where) listed.push_back(std::move(lock));
    }
    return listed;
}

// "MAJOR:MINOR:INODE" as /proc/locks writes it: the device numbers in hex, the
// inode in decimal.
bool sameFile(const std::string& field, const struct stat& file) {
    constexpr std::size_t kMostDeviceDigits = 8;
    const std::string_view text = field;
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos) return false;
    const std::optional<std::uint64_t> deviceMajor = parseHex(text.substr(0, first), 1, kMostDeviceDigits);
    const std::optional<std::uint64_t> deviceMinor =
        parseHex(text.substr(first + 1, second - first - 1), 1, kMostDeviceDigits);
    unsigned long long inode = 0;
    const std::from_chars_result read =
        std::from_chars(text.data() + second + 1, text.data() + text.size(), inode);
    if (!deviceMajor || !deviceMinor || read.ec != std::errc() || read.ptr != text.data() + text.size())
        return false;
    return *deviceMajor == major(file.st_dev) && *deviceMinor == minor(file.st_dev) && inode == file.st_ino;
}

std::string commandName(const std::filesystem::path& procRoot, pid_t pid) {
    std::ifstream comm(procRoot / std::to_string(pid) / "comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::optional<LockHolder> holderIn(const std::vector<ListedLock>& listed, const std::filesystem::path& file,
                                   const std::filesystem::path& procRoot) {
    // lstat: a lock file is never a link, and one planted there names no holder.
    struct stat status {};
    if (lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    for (const ListedLock& lock : listed) {
        if (!sameFile(lock.where, status)) continue;
        if (lock.pid <= 0) return LockHolder{};
        const auto holder = static_cast<pid_t>(lock.pid);
        return LockHolder{holder, commandName(procRoot, holder)};
    }
    return std::nullopt;
}

}  // namespace

std::optional<LockHolder> findLockHolder(const std::filesystem::path& lockFile,
                                         const std::filesystem::path& procRoot) {
    return holderIn(listedLocks(procRoot), lockFile, procRoot);
}

std::vector<HeldPortLock> findHeldPortLocks(const std::filesystem::path& folder, pid_t ownPid,
                                            const std::filesystem::path& procRoot) {
    std::vector<HeldPortLock> held;
    const std::vector<ListedLock> listed = listedLocks(procRoot);
    if (listed.empty()) return held;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::optional<std::string> port = PortLock::portPathOf(entry.path().filename().string());
        if (!port) continue;
        const std::optional<LockHolder> holder = holderIn(listed, entry.path(), procRoot);
        if (holder && holder->pid != ownPid) held.push_back({*port, *holder});
    }
    return held;
}

std::string lockHolderText(const LockHolder& holder) {
    if (holder.pid <= 0) return "another run";
    std::string text = formatText("process %d", static_cast<int>(holder.pid));
    if (!holder.name.empty()) text += " (" + printableText(holder.name) + ")";
    return text;
}

std::filesystem::path portLockFile(const std::string& portPath) {
    return std::filesystem::path(PortLock::defaultDirectory()) / PortLock::fileName(portPath);
}

}  // namespace velmora
