#pragma once
// Loaded buffers for the editor tests (their scratch folders: tests/support/ScratchFolder.h).
#include "firmware/FirmwareBuffer.h"
#include "tests/support/SampleImage.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace velmora::testing {

// An image with its configuration block at blockPosition, parsed and loaded.
inline FirmwareBuffer loadedBuffer(std::size_t size = 512, std::size_t blockPosition = 256) {
    const std::vector<std::uint8_t> image = makeImage(size, blockPosition);
    FirmwareBuffer buffer;
    EXPECT_TRUE(FW_Parse(buffer, image.data(), static_cast<std::int64_t>(image.size())));
    return buffer;
}

}  // namespace velmora::testing
