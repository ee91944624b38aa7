#pragma once
// A disk that fills up, for the tests of a history that meets a full disk: a
// 2 MiB tmpfs mounted on a folder in a mount namespace of the calling process's
// own (so call it in a child: see ChildProcess.h; root only), and a file that
// takes whatever room is left.
#include <sched.h>
#include <sys/mount.h>

#include <fstream>
#include <string>

namespace velmora::testing {

// The child's exit status when it could make no file system of its own (the
// test then skips).
inline constexpr int kNoFileSystemOfItsOwn = 77;

// Mounts the small disk on folder; false when this process cannot have a mount
// namespace of its own here.
inline bool mountSmallDisk(const std::string& folder) {
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("velmora-full", folder.c_str(), "tmpfs", 0, "size=2m,mode=0700") == 0;
}

// Writes path until the disk it lies on is full.
inline void fillDisk(const std::string& path) {
    std::ofstream fill(path, std::ios::binary);
    const std::string block(4096, 'x');
    while (fill.write(block.data(), block.size()) && fill.flush()) {}
}

}  // namespace velmora::testing
