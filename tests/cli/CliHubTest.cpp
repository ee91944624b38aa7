// The hub commands against the simulated hub, run as a script would run them:
// stdout holds exactly the status pane, the exit status says how the run ended.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"

namespace velmora::testing {
namespace {

const std::string kUpdateSteps =
    "Erase Flash...\nWrite Flash...\nRead Flash...\nVerify Flash...\nReset to Flash Code...\n";

class CliHubTest : public CliFixture {};

TEST_F(CliHubTest, UpdatePrintsThePaneAndTracesEveryRequest) {
    const CliRun run = simulated("rom-code", {"--trace", "update", kSampleImage});

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "FW:" + kSampleImage + "(size=32768)\n\n" + kUpdateSteps + "Update FW Success\n");
    const std::regex traceLine("ctrl( [0-9A-F]{2}){8} -> 0x[0-9A-F]{8}");
    const std::vector<std::string> traced = lines(run.err);
    ASSERT_FALSE(traced.empty());
    for (const std::string& line : traced) EXPECT_TRUE(std::regex_match(line, traceLine)) << line;
    // Eight program and eight read requests of 4096 bytes each, after the two
    // whole-flash reads of the backup (eight requests each) before the erase.
    std::size_t chunks = 0;
    for (const std::string& line : traced) {
        if (line.find(" 00 10 -> ") != std::string::npos) ++chunks;
    }
    EXPECT_EQ(chunks, 16u + 16u);
}

struct FailureCase {
    const char* scenario;
    std::vector<std::string> command;
    std::string paneEnd;
};

class CliHubFailureTest : public CliFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliHubFailureTest, ExitsOneWithTheRedLines) {
    std::vector<std::string> command = GetParam().command;
    for (std::string& word : command) {
        if (word == "@out") word = path("out.bin");
    }
    const CliRun run = simulated(GetParam().scenario, command);

    EXPECT_EQ(run.exitStatus, 1) << run.err;
    const std::string& end = GetParam().paneEnd;
    ASSERT_GE(run.out.size(), end.size()) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - end.size()), end);
    EXPECT_FALSE(std::filesystem::exists(path("out.bin")));
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CliHubFailureTest,
    ::testing::Values(
        FailureCase{"corrupt-readback",
                    {"update", kSampleImage},
                    "Fail to verify flash\nUpdate FW Fail\nTo bring the hub back: velmora-cli recover\n"},
        FailureCase{"no-hub", {"update", kSampleImage}, "Then replugin usb hub device\nUpdate FW Fail\n"},
        FailureCase{"stall-erase",
                    {"erase"},
                    "Fail to Erase flash\nErase FW Fail\nTo bring the hub back: velmora-cli recover\n"},
        FailureCase{"timeout-read", {"read", "@out"}, "Fail to Read Flash\nRead Fw Fail\n"},
        FailureCase{"short-read", {"read", "@out"}, "Fail to Read Flash\nRead Fw Fail\n"},
        FailureCase{"never-returns",
                    {"scalar"},
                    "Fail To Open Rom Device\nPlease Load Driver firstly\n"
                    "Then replugin usb hub device\nUpdate FW Fail\n"}),
    [](const auto& info) {
        std::string name = info.param.scenario;
        std::erase(name, '-');
        return name;
    });

// The sample image with other IDs in its configuration block (at 0x7F00).
std::vector<char> withIds(std::vector<char> image, std::uint16_t vid, std::uint16_t sspid,
                          std::uint16_t hspid) {
    const std::uint16_t ids[] = {vid, sspid, hspid};
    for (std::size_t index = 0; index < 3; ++index) {
        image.at(0x7F02 + 2 * index) = static_cast<char>(ids[index] >> 8);
        image.at(0x7F03 + 2 * index) = static_cast<char>(ids[index] & 0xFF);
    }
    return image;
}

// An image over the 32768-byte flash is refused before the hub is touched, by
// update and by scalar, with the size in the error line.
TEST_F(CliHubTest, AnImageLargerThanTheFlashIsRefusedBeforeTheHub) {
    std::vector<char> large = read(kSampleImage);
    large.insert(large.begin(), 256, '\xFF');  // the block stays on a 256-byte step from the end
    const std::string file = write("large.bin", large);
    CliRun run = simulated("flash-code", {"--trace", "update", file});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "velmora-cli: " + file + " is 33024 bytes, larger than the hub's 32768-byte flash\n");

    write("fw.bin", large);
    run = simulated("flash-code", {"--trace", "scalar"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("fw.bin is 33024 bytes, larger than the hub's 32768-byte flash"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("ctrl"), std::string::npos);  // no request reached the hub
}

// A hub boots its flash code with the image's IDs; an image whose IDs the
// configuration does not list would leave a hub this program no longer finds.
TEST_F(CliHubTest, AnImageWithUnlistedIdsIsRefusedUnlessAllowed) {
    const std::string file = write("other.bin", withIds(read(kSampleImage), 0x1234, 0x5678, 0x5679));
    const std::string refusal = "velmora-cli: '" + file +
                                "' gives the hub the IDs 1234:5678 and 1234:5679, which the configuration "
                                "does not list: the hub would not be found after the update (--allow-new-ids "
                                "writes it anyway)\n";
    CliRun run = simulated("flash-code", {"update", file});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, refusal);

    // Allowed, the image is written and the hub comes back as 1234:5678, which the
    // final reopen (looking for the configured IDs) does not find.
    run = simulated("flash-code", {"update", "--allow-new-ids", file});
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_NE(run.out.find("Verify Flash...\nReset to Flash Code...\nFail to Reset to Flash Code\n"),
              std::string::npos)
        << run.out;

    // Only one product ID unlisted is enough to lose the hub on a port of that speed.
    write("fw.bin", withIds(read(kSampleImage), 0x2FE3, 0x0611, 0x0999));
    run = simulated("flash-code", {"scalar"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("IDs 2FE3:0611 and 2FE3:0999"), std::string::npos) << run.err;
    run = simulated("flash-code", {"scalar", "--allow-new-ids"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;  // the hub enumerates SuperSpeed: 2FE3:0611 is listed
}

TEST_F(CliHubTest, ScalarWritesTheConfiguredImageAndExitsNormally) {
    const CliRun run = simulated("flash-code", {"scalar"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "FW:fw.bin(size=32768)\n\n" + kUpdateSteps + "Update FW Success\n");
}

TEST_F(CliHubTest, ReadSavesTheWholeFlashAndEraseLeavesItBlank) {
    CliRun run = simulated("flash-code", {"read", path("flash.bin")});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "Open Device...\nReading Flash...\nReset to Flash Code...\nRead Fw Success\n");
    EXPECT_EQ(read(path("flash.bin")).size(), 32768u);

    run = simulated("flash-code", {"erase"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "Open Rom Device...\nErase Flash...\nReseting...\nErase FW Success\n");
}

// The run's own history and configuration are never a read's output.
TEST_F(CliHubTest, ReadNeverWritesOverTheRunsHistoryOrConfiguration) {
    const std::string history = path("history.sqlite");
    ASSERT_EQ(simulated("flash-code", {"--history", history, "erase"}).exitStatus, 0);
    CliRun run =
        simulated("flash-code", {"--history", history, "read", folder_.string() + "/./history.sqlite"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("is this run's configuration or history"), std::string::npos) << run.err;
    const CliRun listed = runCli({"--history", history, "history"});
    EXPECT_EQ(listed.exitStatus, 0) << listed.err;
    EXPECT_NE(listed.out.find("  erase  "), std::string::npos) << listed.out;

    const std::vector<char> config = read(this->config());
    run = simulated("flash-code", {"read", this->config()});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(read(this->config()), config);
}

TEST_F(CliHubTest, DetectAndListSayWhatIsAttached) {
    CliRun run = simulated("flash-code", {"detect"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "Detect Zelo Hub : Success\nfwVer:0102\n");

    run = simulated("no-hub", {"--json", "detect"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out,
              "{\"detected\":false,\"text\":\"Detect Zelo Hub: Fail\\nPlease Insert Zelo Hub Device\","
              "\"colour\":\"red\"}\n");

    run = simulated("two-hubs", {"list"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out,
              "1-1  2FE3:0611  flash  0102  000000000001\n1-2  2FE3:0611  flash  0102  000000000001\n");

    run = simulated("rom-code", {"list", "--json"});
    EXPECT_EQ(run.out,
              "[{\"port\":\"1-1\",\"vid\":\"2FE3\",\"pid\":\"0611\",\"code\":\"rom\","
              "\"version\":\"0001\",\"serial\":null}]\n");
}

// A command that acts on one hub never takes the bus's first of several: it
// refuses before any request, naming the ports; detect lists each instead.
TEST_F(CliHubTest, SeveralHubsAndNoneNamedAreNeverChosenByTheBusOrder) {
    const std::string image = path("fw.bin");
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {"scalar"}, {"verify", image}, {"restore", image, "--yes"}, {"read", path("out.bin")}}) {
        SCOPED_TRACE(words.front());
        std::vector<std::string> traced = {"--trace"};
        traced.insert(traced.end(), words.begin(), words.end());
        const CliRun run = simulated("two-hubs", traced);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "velmora-cli: " + words.front() +
                               ": 2 supported hubs are attached (1-1, 1-2); name the one to use with "
                               "--port PATH (see list)\n");
    }
    const std::string rows =
        "1-1  2FE3:0611  flash  0102  000000000001\n1-2  2FE3:0611  flash  0102  000000000001\n";
    CliRun run = simulated("two-hubs", {"detect"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "Detect Zelo Hub : 2 hubs attached\n" + rows);
    run = simulated("two-hubs", {"scalar", "--port", "1-2"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    run = simulated("two-hubs", {"verify", image, "--port", "1-2"});
    EXPECT_NE(run.out.find("\nthe flash of the hub on 1-2 "), std::string::npos) << run.out;
}

// One real hub is two USB devices, its SuperSpeed and High-Speed halves: still
// one hub in every listing and every run, whichever half's port names it.
TEST_F(CliHubTest, OneHubsTwoHalvesAreOneHub) {
    CliRun run = simulated("flash-code", {"list"});
    EXPECT_EQ(run.out, "1-1  2FE3:0611  flash  0102  000000000001\n");
    run = simulated("flash-code", {"--json", "update", "--all", path("fw.bin")});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out.find("\"port\":\"1-1\""), run.out.rfind("\"port\":")) << run.out;
    run = simulated("flash-code", {"detect", "--port", "128-1"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Detect Zelo Hub : Success\nfwVer:", 0), 0u) << run.out;
    run = simulated("flash-code", {"verify", path("fw.bin")});
    EXPECT_NE(run.out.find("\nthe flash of the hub on 1-1 "), std::string::npos) << run.out;
}

}  // namespace
}  // namespace velmora::testing
