#include "device/simulated/SampleImage.h"
#include "firmware/FirmwareBuffer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SampleImage.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace velmora;
using namespace velmora::testing;

class FirmwareLoad : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return scratch_.write(name, bytes);
    }

    ScratchFolder scratch_{"velmora-load"};
    std::filesystem::path folder_ = scratch_.path();
};

TEST_F(FirmwareLoad, LoadsAndParsesAFile) {
    sim::SampleImageLayout layout;
    layout.size = 4096;
    layout.vendorId = 0x2FE3;
    layout.manufacturer = "Velmora Labs";
    const std::vector<std::uint8_t> image = sim::makeSampleImage(layout);
    FirmwareBuffer buffer;
    EXPECT_TRUE(FW_LoadFile(buffer, write("good.bin", image)));
    EXPECT_TRUE(buffer.loaded);
    EXPECT_EQ(buffer.data, image);
    EXPECT_EQ(buffer.block, std::optional<std::size_t>(4096 - 256));
    EXPECT_EQ(buffer.manufacturer, "Velmora Labs");
}

TEST_F(FirmwareLoad, FailedReadKeepsThePreviousImage) {
    const std::vector<std::uint8_t> image = makeImage(512, 256);
    FirmwareBuffer buffer;
    ASSERT_TRUE(FW_LoadFile(buffer, write("good.bin", image)));
    const std::vector<std::string> badPaths = {
        (folder_ / "missing.bin").string(), write("empty.bin", {}),
        folder_.string(),  // a folder opens on some systems but cannot be read
    };
    for (const std::string& path : badPaths) {
        EXPECT_FALSE(FW_LoadFile(buffer, path)) << path;
        EXPECT_TRUE(buffer.loaded) << path;
        EXPECT_EQ(buffer.data, image) << path;
        EXPECT_EQ(buffer.block, std::optional<std::size_t>(256)) << path;
    }
}

// An image path may be anything: a FIFO or a device is neither read nor waited on,
// and the image loaded before stays.
TEST_F(FirmwareLoad, FifoOrDeviceIsRefusedWithoutBlocking) {
    const std::vector<std::uint8_t> image = makeImage(512, 256);
    const std::string fifo = (folder_ / "image.bin").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        const ChildEnd end = runInChild([&] {
            FirmwareBuffer buffer;
            FW_LoadFile(buffer, write("good.bin", image));
            return !FW_LoadFile(buffer, path) && buffer.loaded && buffer.data == image ? 0 : 1;
        });
        EXPECT_EQ(end.exitStatus, 0) << path << " signal " << end.signal;
    }
}

TEST_F(FirmwareLoad, ShortFileIsReadButNotLoaded) {
    FirmwareBuffer buffer;
    ASSERT_TRUE(FW_LoadFile(buffer, write("good.bin", makeImage(512, 256))));
    const std::vector<std::uint8_t> shortImage(255, 0x55);
    EXPECT_FALSE(FW_LoadFile(buffer, write("short.bin", shortImage)));
    EXPECT_FALSE(buffer.loaded);
    EXPECT_EQ(buffer.data, shortImage);
}

}  // namespace
