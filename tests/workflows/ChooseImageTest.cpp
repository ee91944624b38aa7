// Choosing the easy-update image, and writing files so that none is ever left torn.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/AtomicFile.h"
#include "tests/support/ScratchFolder.h"
#include "tests/workflows/RecordingReporter.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/EasyUpdate.h"

namespace velmora::testing {
namespace {

class FilesTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return scratch_.write(name, bytes);
    }

    std::vector<std::uint8_t> read(const std::string& name) const {
        std::ifstream file(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    ScratchFolder scratch_{"velmora-files"};
    std::filesystem::path folder_ = scratch_.path();
    RecordingReporter reporter_;
};

TEST_F(FilesTest, ChosenImageShowsItsIdentity) {
    FirmwareBuffer buffer;
    ASSERT_TRUE(chooseFw_EasyUpdate(buffer, write("a.bin", sampleImage(4096, 0x0A0B)), reporter_));

    const ImageIdentity identity = identityOf(buffer);
    EXPECT_EQ(identity.vid, "2FE3");
    EXPECT_EQ(identity.sspid, "0611");
    EXPECT_EQ(identity.hspid, "0610");
    EXPECT_EQ(identity.version, "0A0B");
    EXPECT_EQ(identity.product, "Zelo Hub");
    EXPECT_TRUE(reporter_.alerts.empty());
}

TEST_F(FilesTest, ChoosingABadFileLeavesNothingToWrite) {
    const std::string good = write("a.bin", sampleImage(4096));
    const std::string noBlock = write("b.bin", std::vector<std::uint8_t>(512, 0));
    for (const std::string& bad : {noBlock, path("missing.bin")}) {
        FirmwareBuffer buffer;
        ASSERT_TRUE(chooseFw_EasyUpdate(buffer, good, reporter_));
        EXPECT_FALSE(chooseFw_EasyUpdate(buffer, bad, reporter_)) << bad;
        EXPECT_FALSE(buffer.loaded) << bad;
    }
    EXPECT_EQ(reporter_.alerts, std::vector<std::string>(2, "Firmware format error\n"));
}

TEST_F(FilesTest, AtomicWriteReplacesTheWholeFileAndKeepsItsMode) {
    write("out.bin", std::vector<std::uint8_t>(100, 0xEE));
    ::chmod(path("out.bin").c_str(), 0640);
    const std::vector<std::uint8_t> bytes(32768, 0x5A);

    EXPECT_TRUE(writeFileAtomically(path("out.bin"), bytes.data(), bytes.size()).written);

    EXPECT_EQ(read("out.bin"), bytes);
    EXPECT_EQ(std::filesystem::status(path("out.bin")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1);
}

TEST_F(FilesTest, AtomicWriteIntoAMissingFolderFailsWithItsReason) {
    const std::vector<std::uint8_t> bytes(10, 1);
    const FileWriteResult result = writeFileAtomically(path("no/such/out.bin"), bytes.data(), bytes.size());
    EXPECT_FALSE(result.written);
    EXPECT_EQ(result.error, "No such file or directory");
}

TEST_F(FilesTest, AtomicWriteOverAFolderLeavesNoTemporaryFile) {
    std::filesystem::create_directories(folder_ / "taken");
    const std::vector<std::uint8_t> bytes(10, 1);
    EXPECT_FALSE(writeFileAtomically(path("taken"), bytes.data(), bytes.size()).written);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1);
}

}  // namespace
}  // namespace velmora::testing
