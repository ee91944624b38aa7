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
#include <vector>

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

// A child process that holds one port's lock in a folder until it is ended.
class LockingChild {
public:
    LockingChild(const std::string& port, const std::string& folder) {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(release_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::alarm(60);  // a guard only
            PortLock lock;
            const char held = lock.acquire(port, folder) == kIOReturnSuccess ? 'y' : 'n';
            (void)!::write(ready[1], &held, 1);
            char done = 0;
            (void)!::read(release_[0], &done, 1);
            ::_exit(0);
        }
        char held = 0;
        holds_ = pid_ > 0 && ::read(ready[0], &held, 1) == 1 && held == 'y';
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~LockingChild() { end(); }
    LockingChild(const LockingChild&) = delete;
    LockingChild& operator=(const LockingChild&) = delete;

    bool holds() const { return holds_; }
    pid_t pid() const { return pid_; }
    void end() {
        if (pid_ <= 0) return;
        (void)!::write(release_[1], "x", 1);
        ::waitpid(pid_, nullptr, 0);
        ::close(release_[0]);
        ::close(release_[1]);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
    int release_[2] = {-1, -1};
    bool holds_ = false;
};

TEST(LockHolderTest, NamesTheProcessThatHoldsThePortLock) {
    velmora::testing::ScratchFolder folder("velmora-lock-holder");
    const std::string port = "3-1.2";
    const fs::path file = folder.path() / PortLock::fileName(port);
    EXPECT_FALSE(findLockHolder(file));  // no file yet

    LockingChild child(port, folder.path().string());
    ASSERT_TRUE(child.holds());

    const auto holder = findLockHolder(file);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->pid, child.pid());
    EXPECT_EQ(holder->name, ownCommandName());  // a fork keeps the command name

    child.end();
    EXPECT_FALSE(findLockHolder(file));  // the kernel dropped the lock with its holder
}

// The ports other live processes hold, found from the lock files alone, as a run
// must when the hub another run resets is off the bus. The lock a process left
// when it ended, this process's own lock, and other files in the folder are no
// holder of a port.
TEST(LockHolderTest, FindsThePortsOtherLiveProcessesHold) {
    velmora::testing::ScratchFolder folder("velmora-held-ports");
    const std::string lockFolder = folder.path().string();
    {
        LockingChild ended("3-4", lockFolder);
        ASSERT_TRUE(ended.holds());
    }
    ASSERT_TRUE(fs::exists(folder.path() / PortLock::fileName("3-4")));  // a stale file stays
    PortLock own;
    ASSERT_EQ(own.acquire("3-5", lockFolder), kIOReturnSuccess);
    std::ofstream(folder.path() / "velmora-usb-.lock").put('\n');
    EXPECT_TRUE(findHeldPortLocks(folder.path(), ::getpid()).empty());

    LockingChild child("3-1.2", lockFolder);
    ASSERT_TRUE(child.holds());
    const std::vector<HeldPortLock> held = findHeldPortLocks(folder.path(), ::getpid());
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].portPath, "3-1.2");
    EXPECT_EQ(held[0].holder.pid, child.pid());
    std::string expected =
        "process ";  // piece by piece: GCC 12 at -O3 misreads a literal joined to a temporary
    expected.append(std::to_string(child.pid())).append(" (").append(ownCommandName()).append(")");
    EXPECT_EQ(lockHolderText(held[0].holder), expected);
    EXPECT_EQ(lockHolderText({}), "another run");  // a holder in another PID namespace

    child.end();
    EXPECT_TRUE(findHeldPortLocks(folder.path(), ::getpid()).empty());
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
