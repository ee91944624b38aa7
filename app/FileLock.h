#pragma once
// The one way a lock is taken on a file or a folder here: an flock on a
// descriptor the caller opened by its own rules. The kernel drops it with the
// last descriptor of that open, so a run that crashes never leaves it held, and
// it is held per open file: two opens in one process exclude each other too.
// An flock never touches the POSIX locks SQLite takes on its files.
#include <chrono>
#include <string>

namespace velmora {

// How long a lock held by another is waited for.
enum class LockWait { No, Bounded, Forever };

class FileLock {
public:
    enum class Outcome { Held, Busy, Failed };

    FileLock() = default;
    // Takes over descriptor (-1: none), which it closes when it goes.
    explicit FileLock(int descriptor) : descriptor_(descriptor) {}
    ~FileLock() { release(); }
    FileLock(FileLock&& other) noexcept : descriptor_(other.descriptor_), held_(other.held_) {
        other.descriptor_ = -1;
        other.held_ = false;
    }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock: at once or not at all (No), waiting up to timeout (Bounded),
    // or for as long as it takes (Forever). Failed: no descriptor, or the system's
    // error, in errno.
    Outcome take(LockWait wait, std::chrono::milliseconds timeout = std::chrono::milliseconds{0});
    bool held() const { return held_; }
    int descriptor() const { return descriptor_; }
    // Lets the lock and the descriptor go.
    void release();

private:
    int descriptor_ = -1;
    bool held_ = false;
};

// The lock of a folder (opened without following a link), taken as wait says.
// On Busy or Failed, error says why: the folder's name and the system's reason,
// or that another holds it.
FileLock lockFolder(const std::string& folder, LockWait wait, std::chrono::milliseconds timeout,
                    std::string& error);

}  // namespace velmora
