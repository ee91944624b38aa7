// The tests run libusb inside this process against the emulated usbfs, which
// needs umockdev's library preloaded from the very start: the binary starts
// itself again under it when it was run without.
#include <gtest/gtest.h>

#include <cstdio>

#include "testbed/PreloadEnvironment.h"

int main(int argc, char** argv) {
    if (!velmora::usbfs::isPreloaded()) {
        velmora::usbfs::restartUnderPreload(argv);
        std::perror("usbfs_tests: cannot restart with umockdev preloaded");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
