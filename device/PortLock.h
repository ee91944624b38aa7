#pragma once
// An advisory lock per USB port, so that two processes (or two connections in
// one process) never drive the same hub at once. It is a flock on a small file
// named after the port path; the kernel drops it when its holder exits, so a
// crashed run never leaves the hub locked.
#include <optional>
#include <string>
#include <utility>

#include "app/FileLock.h"
#include "device/UsbStatus.h"

namespace velmora {

class PortLock {
public:
    PortLock() = default;
    PortLock(PortLock&& other) noexcept = default;
    PortLock& operator=(PortLock&& other) noexcept = default;
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // kIOReturnSuccess with the lock held, kIOReturnExclusiveAccess when someone
    // else holds it, kIOReturnNotPermitted when no lock file can be opened or what
    // stands at its path is not a regular file (a FIFO there never blocks).
    // error() then says which.
    IOReturn acquire(const std::string& portPath, const std::string& directory);
    IOReturn acquire(const std::string& portPath) { return acquire(portPath, defaultDirectory()); }
    bool held() const { return lock_.held(); }
    const std::string& error() const { return error_; }
    // The file stays: removing it would race with a process that just opened it.
    void release() { lock_.release(); }

    // A folder every user's run shares: /run/lock, else /tmp.
    static std::string defaultDirectory();
    // "velmora-usb-1-4.2.lock"; characters other than digits, letters, '-' and '.'
    // become '_'.
    static std::string fileName(const std::string& portPath);
    // The port path a lock file's name stands for; nothing for any other name.
    static std::optional<std::string> portPathOf(const std::string& fileName);

private:
    FileLock lock_;
    std::string error_;
};

}  // namespace velmora
