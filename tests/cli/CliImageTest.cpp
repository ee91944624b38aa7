// "image show" and "image edit": the flash page's view and editors on files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"

namespace velmora::testing {
namespace {

class CliImageTest : public CliFixture {};

TEST_F(CliImageTest, ShowListsTheFieldsTheBlockAndAPage) {
    const CliRun run = runCli({"image", "show", kSampleImage, "--ic", kDefinitionFile, "--page", "SSC"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out.rfind("VID: 2FE3\nSSPID: 0611\nHSPID: 0610\nver: 0102\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("7F00h:55 AA 2F E3 06 11 06 10"), std::string::npos);
    EXPECT_NE(run.out.find("PageName: SSC\nSSC Enable = "), std::string::npos);
}

TEST_F(CliImageTest, ShowNeverPassesControlCharactersOfAnImageToTheTerminal) {
    std::vector<char> image = read(kSampleImage);
    image.at(0x7F2D) = '\x1B';  // the manufacturer's first character, in the block at 0x7F00
    const CliRun run = runCli({"image", "show", write("escape.bin", image)});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("Manufacturer: ?elmora Labs\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x1B'), std::string::npos);
}

// A file far larger than any image is refused before it is read (a 2 GiB file
// once took over 4 GB of memory): the file here is sparse, so it costs no disk.
TEST_F(CliImageTest, FilesOverSixteenMebibytesAreRefusedUnread) {
    const std::string huge = path("huge.bin");
    std::filesystem::copy_file(kSampleImage, huge);
    std::filesystem::resize_file(huge, 16LL * 1024 * 1024 + 1);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"image", "show", huge},
          std::vector<std::string>{"image", "edit", huge, "-o", path("out.bin"), "--vid", "1A2B"}}) {
        const CliRun run = runCli(command);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.err, "velmora-cli: '" + huge +
                               "' is 16777217 bytes, more than an image file may hold (16 MiB)\n");
        EXPECT_FALSE(std::filesystem::exists(path("out.bin")));
    }
    std::filesystem::resize_file(huge, 16LL * 1024 * 1024);
    EXPECT_EQ(runCli({"image", "show", huge}).exitStatus, 0);  // 16 MiB itself is still an image file
}

TEST_F(CliImageTest, EditStoresFlagsAndWritesOnlyAWholeFile) {
    const std::string output = path("edited.bin");
    CliRun run = runCli({"image", "edit", kSampleImage, "-o", output, "--vid", "1a2b", "--serial", "SN42",
                         "--ic", kDefinitionFile, "--set", "SSC Enable=Off"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const std::vector<char> original = read(kSampleImage);
    const std::vector<char> edited = read(output);
    ASSERT_EQ(edited.size(), original.size());

    run = runCli({"image", "show", output, "--json", "--ic", kDefinitionFile});
    EXPECT_NE(run.out.find("\"vid\":\"1A2B\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"serial\":\"SN42\""), std::string::npos);
    EXPECT_NE(run.out.find("{\"property\":\"SSC Enable\",\"value\":\"0 : Off\"}"), std::string::npos);
    EXPECT_NE(run.out.find("7F00h:55 AA 1A 2B 06 11 06 10 - 00 00 01"), std::string::npos);  // ID edit flag
}

struct RefusedEdit {
    const char* name;
    std::vector<std::string> options;
    std::string error;
};

class CliRefusedEditTest : public CliFixture, public ::testing::WithParamInterface<RefusedEdit> {};

TEST_P(CliRefusedEditTest, WritesNothing) {
    std::vector<std::string> arguments = {"image", "edit", kSampleImage, "-o", path("out.bin")};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const CliRun run = runCli(arguments);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "velmora-cli: " + GetParam().error + "\n");
    EXPECT_FALSE(std::filesystem::exists(path("out.bin")));
}

INSTANTIATE_TEST_SUITE_P(
    EditorLimits, CliRefusedEditTest,
    ::testing::Values(
        RefusedEdit{"ShortVid", {"--vid", "1a2"}, "Data Length Error"},
        RefusedEdit{"LongVid", {"--vid", "1a2b3"}, "--vid: VID length should be 4."},
        RefusedEdit{"LongHspid", {"--hspid", "061000"}, "--hspid: HSPID length should be 4."},
        RefusedEdit{"StringsOver29Bytes",
                    {"--manufacturer", "0123456789", "--product", "0123456789", "--serial", "0123456789"},
                    "--serial: manufacturer, product and serial number hold at most 29 bytes together"},
        RefusedEdit{"UnknownProperty",
                    {"--ic", kDefinitionFile, "--set", "Turbo=On"},
                    "--set: no property named 'Turbo' in the definition file"},
        RefusedEdit{"UnknownOption",
                    {"--ic", kDefinitionFile, "--set", "SSC Enable=Maybe"},
                    "--set: 'Maybe' is not an option of 'SSC Enable'"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::testing
