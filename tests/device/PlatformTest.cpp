// The platform layer's small pieces: wire order, trace lines, clocks, libusb
// status mapping and the per-port lock.
#include <libusb.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <filesystem>

#include "device/LibusbPlatform.h"
#include "device/PortLock.h"
#include "tests/device/DeviceTestRig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::devicetest {
namespace {

TEST(UsbSetup, WordsGoOnTheWireLowByteFirst) {
    const UsbSetup setup{0xC0, 0xD8, 0x2000, 0x0001, 0x1000};
    EXPECT_EQ(setup.wireBytes(), (Wire{0xC0, 0xD8, 0x00, 0x20, 0x01, 0x00, 0x00, 0x10}));
    EXPECT_TRUE(setup.isDeviceToHost());
    EXPECT_FALSE((UsbSetup{0x40, 0x02, 1, 0x2E7A, 0}).isDeviceToHost());
}

TEST(UsbSetup, TraceLineShowsUpperCaseBytesAndTheStatus) {
    EXPECT_EQ(formatTraceLine(UsbSetup{0x40, 0x02, 0x0001, 0x2E7A, 0}, 0),
              "ctrl 40 02 01 00 7A 2E 00 00 -> 0x00000000");
    EXPECT_EQ(formatTraceLine(UsbSetup{0xC0, 0xD8, 0xABCD, 0x00EF, 4096}, kIOUSBPipeStalled),
              "ctrl C0 D8 CD AB EF 00 00 10 -> 0xE000404F");
}

TEST(VirtualClock, SleepsAreRecordedAndMoveTime) {
    VirtualClock clock;
    clock.sleepFor(Milliseconds{128});
    clock.advance(Milliseconds{1000});
    clock.sleepFor(Milliseconds{2000});
    EXPECT_EQ(clock.now(), Milliseconds{3128});
    EXPECT_EQ(clock.sleeps(), ms({128, 2000}));
    clock.clearSleeps();
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_EQ(clock.now(), Milliseconds{3128});
}

TEST(LibusbStatus, ErrorsMapToTheirStatusCodes) {
    struct Case {
        int error;
        IOReturn status;
    };
    for (const Case& c :
         {Case{LIBUSB_SUCCESS, kIOReturnSuccess}, Case{LIBUSB_ERROR_PIPE, kIOUSBPipeStalled},
          Case{LIBUSB_ERROR_TIMEOUT, kIOReturnTimeout}, Case{LIBUSB_ERROR_NO_DEVICE, kIOReturnNoDevice},
          Case{LIBUSB_ERROR_BUSY, kIOReturnExclusiveAccess},
          Case{LIBUSB_ERROR_ACCESS, kIOReturnExclusiveAccess}, Case{LIBUSB_ERROR_OVERFLOW, kIOReturnOverrun},
          Case{LIBUSB_ERROR_NO_MEM, kIOReturnNoMemory}, Case{LIBUSB_ERROR_OTHER, kIOReturnError},
          Case{-1234, kIOReturnError}}) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(statusFromLibusbError(c.error), c.status);
    }
}

TEST(LibusbPlatform, DeviceThatIsNotThereCannotBeOpened) {
    LibusbPlatform platform;
    for (const UsbDeviceInfo& device : platform.listDevices()) EXPECT_FALSE(device.platformKey.empty());
    const UsbPlatform::OpenResult result = platform.openDevice({kVendorId, kSuperSpeedId, "99-1", "099/001"});
    EXPECT_EQ(result.device, nullptr);
    EXPECT_NE(result.status, kIOReturnSuccess);
}

class PortLockTest : public ::testing::Test {
protected:
    velmora::testing::ScratchFolder scratch{"velmora-lock-test"};
    std::string folder = scratch.path().string();
};

TEST_F(PortLockTest, OneHolderPerPort) {
    PortLock first;
    PortLock second;
    PortLock other;
    EXPECT_EQ(first.acquire("1-4.2", folder), kIOReturnSuccess);
    EXPECT_EQ(second.acquire("1-4.2", folder), kIOReturnExclusiveAccess);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(other.acquire("1-4.3", folder), kIOReturnSuccess);
    first.release();
    EXPECT_EQ(second.acquire("1-4.2", folder), kIOReturnSuccess);
    PortLock moved = std::move(second);
    EXPECT_TRUE(moved.held());
    EXPECT_EQ(first.acquire("1-4.2", folder), kIOReturnExclusiveAccess);
}

TEST_F(PortLockTest, PlantedSymlinkIsNotFollowed) {
    const std::string target = folder + "/elsewhere";
    std::filesystem::create_symlink(target, folder + "/" + PortLock::fileName("1-1"));
    PortLock lock;
    EXPECT_EQ(lock.acquire("1-1", folder), kIOReturnNotPermitted);
    EXPECT_FALSE(std::filesystem::exists(target));
}

// The lock folder is world-writable: whatever another user plants at the lock
// file's path must neither block every hub command nor be taken for a lock.
TEST_F(PortLockTest, PlantedFifoOrDeviceIsRefusedWithoutBlocking) {
    const std::string fifo = folder + "/" + PortLock::fileName("1-1");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    std::vector<std::string> paths = {"1-1"};
    if (testing::runningAsRoot()) {
        const std::string device = folder + "/" + PortLock::fileName("1-2");
        ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        paths.push_back("1-2");
    }
    for (const std::string& port : paths) {
        const testing::ChildEnd end = testing::runInChild([&] {
            PortLock lock;
            const bool refused = lock.acquire(port, folder) == kIOReturnNotPermitted && !lock.held();
            const bool named = lock.error().find("not a regular file") != std::string::npos &&
                               lock.error().find(PortLock::fileName(port)) != std::string::npos;
            return refused && named ? 0 : 1;
        });
        EXPECT_EQ(end.exitStatus, 0) << port << " signal " << end.signal;
    }
}

TEST(PortLockName, PortPathCannotLeaveTheFolder) {
    EXPECT_EQ(PortLock::fileName("1-4.2"), "velmora-usb-1-4.2.lock");
    EXPECT_EQ(PortLock::fileName("../x/y"), "velmora-usb-.._x_y.lock");
}

}  // namespace
}  // namespace velmora::devicetest
