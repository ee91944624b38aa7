#pragma once
// Loaded buffers and scratch folders for the editor tests.
#include "firmware/FirmwareBuffer.h"
#include "tests/support/SampleImage.h"

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

// A folder of its own for each test, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("velmora-editor-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::string write(const std::string& relativePath, const std::string& text) const {
        const std::filesystem::path file = path_ / relativePath;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }

private:
    std::filesystem::path path_;
};

}  // namespace velmora::testing
