#include "app/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace velmora {

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        descriptor_ = other.descriptor_;
        held_ = other.held_;
        other.descriptor_ = -1;
        other.held_ = false;
    }
    return *this;
}

FileLock::Outcome FileLock::take(LockWait wait, std::chrono::milliseconds timeout) {
    if (descriptor_ < 0) {
        errno = EBADF;
        return Outcome::Failed;
    }
    if (wait == LockWait::Forever) {
        while (::flock(descriptor_, LOCK_EX) != 0) {
            if (errno != EINTR) return Outcome::Failed;
        }
        held_ = true;
        return Outcome::Held;
    }
    // A holder is looked at again in short steps: the locks here are held for
    // milliseconds, and a blocking flock could not be given up after a time.
    constexpr std::chrono::milliseconds kStep{5};
    for (std::chrono::milliseconds waited{0};; waited += kStep) {
        if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            return Outcome::Held;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return Outcome::Failed;
        if (wait == LockWait::No || waited >= timeout) return Outcome::Busy;
        std::this_thread::sleep_for(kStep);
    }
}

void FileLock::release() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
    held_ = false;
}

FileLock lockFolder(const std::string& folder, LockWait wait, std::chrono::milliseconds timeout,
                    std::string& error) {
    const std::string name = folder.empty() ? std::string(".") : folder;
    FileLock lock(::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.descriptor() < 0) {
        error = name + ": cannot be locked: " + std::strerror(errno);
        return lock;
    }
    const FileLock::Outcome outcome = lock.take(wait, timeout);
    if (outcome == FileLock::Outcome::Busy) error = name + " is locked by another program for too long";
    if (outcome == FileLock::Outcome::Failed) error = name + ": cannot be locked: " + std::strerror(errno);
    return lock;
}

}  // namespace velmora
