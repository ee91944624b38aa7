// The command line over several simulated hubs, run in-process in virtual time:
// port-prefixed lines, the summary and its JSON, the exit status, and the
// commands that take one hub only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApplication.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

const std::string kConfig = VELMORA_TEST_RESOURCES "/config.ini";
const std::string kImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";

struct CliResult {
    int status = 0;
    std::string out;
    std::string err;
};

class CliFleetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("VELMORA_SIMULATED_TIME", "virtual", 1);
        // The runs are recorded in the test's own folder, never in the user's history.
        ::setenv("XDG_STATE_HOME", scratch_.path().c_str(), 1);
    }

    static CliResult run(const std::string& scenario, std::vector<std::string> words) {
        words.insert(words.begin(), {"--config", kConfig, "--simulate=" + scenario});
        std::ostringstream out;
        std::ostringstream err;
        CliResult result;
        result.status = cli::runCommandLine(words, {out, err, false, false});
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    // The lines of one port, without their prefix, in the order written.
    static std::string linesOf(const std::string& out, const std::string& port) {
        std::istringstream lines(out);
        std::string line;
        std::string kept;
        const std::string prefix = port + ":";
        while (std::getline(lines, line)) {
            if (line.rfind(prefix, 0) != 0) continue;
            kept += line.size() > prefix.size() ? line.substr(prefix.size() + 1) : "";
            kept += '\n';
        }
        return kept;
    }

    ScratchFolder scratch_{"velmora-fleet"};
};

TEST_F(CliFleetTest, UpdateAllWritesEveryHubWithPrefixedLinesAndASummary) {
    const CliResult result = run("eight-hubs", {"update", "--all", kImage});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string single = "FW:" + kImage +
                               "(size=32768)\n\nErase Flash...\nWrite Flash...\nRead Flash...\n"
                               "Verify Flash...\nReset to Flash Code...\nUpdate FW Success\n";
    std::string summary = "port  result   before  after  seconds\n";
    for (int port = 1; port <= 8; ++port) {
        const std::string name = "1-" + std::to_string(port);
        EXPECT_EQ(linesOf(result.out, name), single) << name;
        // The hub model's own busy time (two reboots, erase, eight units each way),
        // the erase pause and two settle times: 3.8 s for every hub, side by side.
        summary += name + "   success  0102    0102   3.8\n";
    }
    EXPECT_EQ(result.out.substr(result.out.size() - summary.size()), summary);
}

TEST_F(CliFleetTest, JsonGivesOneEntryPerHubInTheOrderNamed) {
    const CliResult result = run("two-hubs", {"--json", "erase", "--port", "1-2", "--port=1-1"});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string lines =
        "\"lines\":[\"Open Rom Device...\",\"Erase Flash...\",\"Reseting...\",\"Erase FW Success\"]}";
    EXPECT_EQ(result.out,
              "[{\"port\":\"1-2\",\"result\":\"success\",\"versionBefore\":\"0102\","
              "\"versionAfter\":\"rom\",\"seconds\":3.2," +
                  lines +
                  ",{\"port\":\"1-1\",\"result\":\"success\",\"versionBefore\":\"0102\","
                  "\"versionAfter\":\"rom\",\"seconds\":3.2," +
                  lines + "]\n");
}

// A port with no hub fails on its own; the hub that is there is still updated.
TEST_F(CliFleetTest, AnyFailedHubMakesTheExitStatusOne) {
    const CliResult result = run("two-hubs", {"update", kImage, "--port", "1-2", "--port", "1-7"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("1-2: Update FW Success\n"), std::string::npos);
    EXPECT_NE(result.out.find("1-7: Update FW Fail\n"), std::string::npos);
    EXPECT_NE(result.out.find("1-7   failed   ----    ----   0.0\n"), std::string::npos) << result.out;
}

TEST_F(CliFleetTest, HubSelectionsThatCannotWork) {
    struct Case {
        const char* scenario;
        std::vector<std::string> words;
        int status;
        const char* error;
    };
    const std::string output = (scratch_.path() / "flash.bin").string();
    for (const Case& c : {
             Case{"no-hub", {"update", "--all", kImage}, 1, "Please Insert Zelo Hub Device"},
             Case{"two-hubs", {"read", output}, 2, "2 supported hubs are attached"},
             Case{"two-hubs", {"read", output, "--port", "1-1", "--port", "1-2"}, 2, "--port only once"},
             Case{"two-hubs", {"update", kImage, "--all", "--port", "1-1"}, 2, "exclude each other"},
             Case{"two-hubs", {"erase", "--port"}, 2, "--port needs a value"},
             Case{"two-hubs", {"read", output, "--all"}, 2, "unknown option '--all'"},
         }) {
        SCOPED_TRACE(c.words.front() + " on " + c.scenario);
        const CliResult result = run(c.scenario, c.words);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

// With several hubs and none named, update and erase refuse as read does, naming
// the ports, before any request reaches a hub.
TEST_F(CliFleetTest, SeveralHubsAndNoneNamedAreRefusedBeforeAnyRequest) {
    struct Case {
        std::string command;
        std::vector<std::string> words;
    };
    for (const Case& c : {Case{"update", {"--trace", "update", kImage}}, Case{"erase", {"--trace", "erase"}},
                          Case{"erase", {"--trace", "--json", "erase"}}}) {
        const std::string& command = c.command;
        const std::vector<std::string>& words = c.words;
        SCOPED_TRACE(command);
        const CliResult result = run("two-hubs", words);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "velmora-cli: " + command +
                                  ": 2 supported hubs are attached (1-1, 1-2); name one with --port PATH, "
                                  "or every one with --all (see list)\n");
    }
}

// --json with the one hub attached runs on it and prints its entry.
TEST_F(CliFleetTest, JsonWithOneHubRunsOnIt) {
    CliResult result = run("flash-code", {"--json", "erase"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("[{\"port\":", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("\"result\":\"success\""), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\"Erase FW Success\"]}]\n"), std::string::npos) << result.out;

    result = run("flash-code", {"--json", "update", kImage});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\"Update FW Success\"]}]\n"), std::string::npos) << result.out;

    result = run("no-hub", {"--json", "erase"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "[]\n");
}

TEST_F(CliFleetTest, ReadTakesTheHubOnTheNamedPort) {
    const std::string output = (scratch_.path() / "flash.bin").string();
    const CliResult result = run("two-hubs", {"read", "--port", "1-2", output});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(std::filesystem::file_size(output), 32768u);
}

TEST_F(CliFleetTest, DetectOnSeveralPortsPrefixesEachHubsField) {
    const CliResult result = run("two-hubs", {"detect", "--port", "1-2", "--port", "1-5"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "1-2: Detect Zelo Hub : Success\n1-2: fwVer:0102\n1-2: serial:000000000001\n"
              "1-5: Detect Zelo Hub: Fail\n1-5: Please Insert Zelo Hub Device\n");
}

}  // namespace
}  // namespace velmora::testing
