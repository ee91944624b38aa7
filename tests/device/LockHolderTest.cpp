// Naming the process that holds a hub's lock: another process really holds it,
// and the kernel's lock list is read as the kernel writes it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <fstream>
#include <string>

#include "device/LockHolder.h"
#include "device/PortLock.h"
#include "tests/support/ScratchFolder.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::string ownCommandName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

TEST(LockHolderTest, NamesTheProcessThatHoldsThePortLock) {
    velmora::testing::ScratchFolder folder("velmora-lock-holder");
    const std::string port = "3-1.2";
    const fs::path file = folder.path() / PortLock::fileName(port);
    EXPECT_FALSE(findLockHolder(file));  // no file yet

    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(60);  // a guard only
        PortLock lock;
        const char held = lock.acquire(port, folder.path().string()) == kIOReturnSuccess ? 'y' : 'n';
        (void)!::write(ready[1], &held, 1);
        char done = 0;
        (void)!::read(release[0], &done, 1);
        ::_exit(0);
    }
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');

    const auto holder = findLockHolder(file);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->pid, child);
    EXPECT_EQ(holder->name, ownCommandName());  // a fork keeps the command name

    (void)!::write(release[1], "x", 1);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(findLockHolder(file));  // the kernel dropped the lock with its holder
    for (int descriptor : {ready[0], ready[1], release[0], release[1]}) ::close(descriptor);
}

// A process waiting for the lock is listed too ("->"), but does not hold it.
TEST(LockHolderTest, ReadsTheHolderAndSkipsWaiters) {
    velmora::testing::ScratchFolder folder("velmora-lock-list");
    const fs::path file = folder.path() / "port.lock";
    std::ofstream(file).put('\n');
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    char where[64];
    std::snprintf(where, sizeof where, "%02x:%02x:%llu", major(status.st_dev), minor(status.st_dev),
                  static_cast<unsigned long long>(status.st_ino));

    const fs::path proc = folder.path() / "proc";
    fs::create_directories(proc / "4321");
    std::ofstream(proc / "4321" / "comm") << "velmora-cli\n";
    std::ofstream(proc / "locks") << "1: POSIX  ADVISORY  WRITE 99 00:00:1 0 EOF\n"
                                  << "2: FLOCK  ADVISORY  WRITE 4321 " << where << " 0 EOF\n"
                                  << "2: -> FLOCK  ADVISORY  WRITE 777 " << where << " 0 EOF\n";
    const auto holder = findLockHolder(file, proc);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->pid, 4321);
    EXPECT_EQ(holder->name, "velmora-cli");

    std::ofstream(proc / "locks") << "2: -> FLOCK  ADVISORY  WRITE 777 " << where << " 0 EOF\n";
    EXPECT_FALSE(findLockHolder(file, proc));
}

}  // namespace
}  // namespace velmora
