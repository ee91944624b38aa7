// The station as an operator starts it: eight hubs of the eight-hubs scenario
// updated in one run with --count, each recorded in the history, and an image the
// update would refuse refused before the first unit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"

namespace velmora::testing {
namespace {

class CliStationTest : public CliFixture {};

TEST_F(CliStationTest, CountedRunUpdatesEveryUnitOnceAndRecordsIt) {
    const std::string history = path("history.sqlite");
    const CliRun run =
        simulated("eight-hubs", {"--history", history, "station", kSampleImage, "--count", "8"});

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    const std::vector<std::string> shown = lines(run.out);
    int passed = 0;
    for (const std::string& line : shown) passed += line.find(": PASS 0102 -> 0102 (") != std::string::npos;
    EXPECT_EQ(passed, 8) << run.out;
    EXPECT_EQ(shown.back(), "passed 8, failed 0, in progress 0");
    const CliRun listed = runCli({"--history", history, "history", "--csv"});
    EXPECT_EQ(lines(listed.out).size(), 9u) << listed.out;  // the header and a row per unit
    EXPECT_EQ(listed.out.find(",unfinished,"), std::string::npos);
}

TEST_F(CliStationTest, TheUpdatesImageRulesHoldBeforeTheFirstUnit) {
    std::vector<char> large = read(kSampleImage);
    large.insert(large.begin(), 256, '\xFF');
    const std::string file = write("large.bin", large);
    CliRun run = simulated("eight-hubs", {"station", file, "--count", "8"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("larger than the hub's 32768-byte flash"), std::string::npos) << run.err;

    run = simulated("eight-hubs", {"station", kSampleImage, "--expect-version", "12"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace velmora::testing
