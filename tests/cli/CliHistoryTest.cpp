// The history as a production line uses it: hub commands recorded as they run,
// listed as a table, CSV or JSON; and a history that
// cannot be written never costs a run.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"

namespace velmora::testing {
namespace {

class CliHistoryTest : public CliFixture {
protected:
    CliRun recorded(const std::string& scenario, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--history", history_});
        return simulated(scenario, arguments);
    }
    CliRun listed(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--history", history_, "history"});
        return runCli(arguments);
    }

    std::string history_ = path("history.sqlite");
};

TEST_F(CliHistoryTest, RunsAreListedInEveryFormat) {
    ASSERT_EQ(recorded("flash-code", {"update", kSampleImage}).exitStatus, 0);
    ASSERT_EQ(recorded("corrupt-readback", {"update", kSampleImage}).exitStatus, 1);

    const CliRun table = listed({});
    EXPECT_EQ(table.exitStatus, 0) << table.err;
    const std::vector<std::string> rows = lines(table.out);
    ASSERT_EQ(rows.size(), 2u) << table.out;
    EXPECT_NE(rows[0].find("  update  1-1  success  0102 -> 0102  " + kSampleImage), std::string::npos)
        << rows[0];
    EXPECT_NE(rows[1].find("  failure  0102 -> -  " + kSampleImage + "  Fail to verify flash"),
              std::string::npos)
        << rows[1];

    const CliRun csv = listed({"--csv"});
    const std::vector<std::string> records = lines(csv.out);
    ASSERT_EQ(records.size(), 3u) << csv.out;
    EXPECT_EQ(records[0],
              "id,operation,started,ended,host,port,hub_ids,version_before,version_after,image_path,"
              "image_sha256,image_serial,phases,result,failure,backup_sha256,recovered_run,hub_serial\r");
    // The failed run names the backup of the flash it erased; it never reached the
    // serial read-back after the reset.
    EXPECT_TRUE(std::regex_search(records[2], std::regex(",failure,Fail to verify flash,[0-9a-f]{64},,\r$")))
        << records[2];

    const CliRun json = runCli({"--json", "--history", history_, "history"});
    EXPECT_EQ(json.exitStatus, 0) << json.err;
    EXPECT_EQ(json.out.front(), '[');
    EXPECT_NE(json.out.find("\"result\":\"success\""), std::string::npos);
    EXPECT_NE(json.out.find("\"phases\":{\"open\":"), std::string::npos) << json.out;
}

struct HistoryUsage {
    std::vector<std::string> words;
    std::string error;
};

class CliHistoryUsageTest : public CliHistoryTest, public ::testing::WithParamInterface<HistoryUsage> {};

TEST_P(CliHistoryUsageTest, BadWordsExitTwo) {
    std::vector<std::string> words = {"--history", history_};
    words.insert(words.end(), GetParam().words.begin(), GetParam().words.end());
    const CliRun run = runCli(words);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find(GetParam().error), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Words, CliHistoryUsageTest,
    ::testing::Values(HistoryUsage{{"history", "--since", "yesterday"}, "--since takes an ISO-8601 time"},
                      HistoryUsage{{"history", "--since"}, "--since"},
                      HistoryUsage{{"--json", "history", "--csv"}, "--csv and --json exclude each other"},
                      HistoryUsage{{"history", "--all"}, "--all"},
                      HistoryUsage{{"history", "everything"}, "everything"},
                      HistoryUsage{{"history", "report", "--by", "shift"},
                                   "--by takes station, port, day, phase or unit"},
                      HistoryUsage{{"history", "--unit", ""}, "--unit takes a unit's ID"},
                      HistoryUsage{{"--history", "", "history"}, "--history"},
                      HistoryUsage{{"history", "report", "--csv"}, "--csv"},
                      HistoryUsage{{"history", "sync"}, "no history server named"},
                      HistoryUsage{{"history", "sync", "now"}, "now"}));

// The line's report works on the station's own file as on a server: the bench's
// simulated runs only when asked, by station and by phase, and as JSON.
TEST_F(CliHistoryTest, ReportSumsTheStationsOwnFile) {
    ASSERT_EQ(recorded("flash-code", {"--station-name", "bench-3", "update", kSampleImage}).exitStatus, 0);
    ASSERT_EQ(recorded("corrupt-readback", {"--station-name", "bench-3", "update", kSampleImage}).exitStatus,
              1);

    CliRun report = listed({"report"});
    EXPECT_EQ(report.exitStatus, 0) << report.err;
    EXPECT_EQ(report.out, "all: units 0, passed 0, failed 0, unfinished 0, yield -\n");
    report = listed({"report", "--include-simulated", "--by", "station"});
    EXPECT_EQ(report.out,
              "bench-3: units 2, passed 1, failed 1, unfinished 0, yield 50.0%; failed in verify 1\n");
    report = listed({"report", "--include-simulated", "--by", "phase"});
    const std::vector<std::string> phases = lines(report.out);
    ASSERT_GE(phases.size(), 4u) << report.out;
    EXPECT_EQ(phases[0], "open: units 2, passed 2, failed 0, unfinished 0, yield 100.0%");
    EXPECT_NE(
        report.out.find("verify: units 2, passed 1, failed 1, unfinished 0, yield 50.0%; failed in verify 1"),
        std::string::npos)
        << report.out;
    report = runCli({"--json", "--history", history_, "history", "report", "--include-simulated"});
    EXPECT_EQ(report.out,
              "[{\"total\":\"all\",\"units\":2,\"passed\":1,\"failed\":1,\"unfinished\":0,"
              "\"yield\":0.5,\"failures_by_phase\":{\"verify\":1},\"first_pass_units\":0,\"first_passed\":0,"
              "\"first_pass_yield\":null,\"reads\":0,\"erases\":0,\"verifies\":0}]\n");
    EXPECT_EQ(lines(listed({"--csv", "--station", "bench-3"}).out).size(), 3u);
    EXPECT_EQ(lines(listed({"--csv", "--station", "bench-4"}).out).size(), 1u);
}

TEST_F(CliHistoryTest, NothingRecordedYetIsNoError) {
    const CliRun run = listed({"--csv"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(lines(run.out).size(), 1u);  // the header
    EXPECT_NE(run.err.find("nothing recorded yet"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(history_));  // listing makes no file
}

TEST_F(CliHistoryTest, UnwritableHistoryIsToldAndTheUpdateGoesOn) {
    write("plain-file", {'x'});
    const std::string unusable = path("plain-file/history.sqlite");
    const CliRun run = simulated("flash-code", {"--history", unusable, "update", kSampleImage});

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("Update FW Success\n"), std::string::npos);
    const std::vector<std::string> errors = lines(run.err);
    ASSERT_EQ(errors.size(), 2u) << run.err;  // at the run, and at the end the row it lost
    EXPECT_NE(errors[0].find("velmora-cli: history " + unusable + ": "), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find(": 1 run records could never be written"), std::string::npos) << errors[1];
}

// A folder above the history may be a link (a home moved to another disk and
// linked back): the runs are kept there; only the file and its own folder must
// be no links.
TEST_F(CliHistoryTest, AHistoryBelowALinkedFolderIsKept) {
    std::filesystem::create_directories(path("disk/state"));
    std::filesystem::create_directory_symlink(path("disk"), path("linked"));
    const std::string linked = path("linked/state/history.sqlite");
    const CliRun run = simulated("flash-code", {"--history", linked, "update", kSampleImage});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const CliRun listed = runCli({"--history", linked, "history", "--csv"});
    EXPECT_EQ(lines(listed.out).size(), 2u) << listed.out << listed.err;

    // The history's own folder a link: refused, naming the rule, and nothing made.
    std::filesystem::create_directory_symlink(path("disk/state"), path("own-link"));
    const CliRun refused =
        simulated("flash-code", {"--history", path("own-link/history.sqlite"), "update", kSampleImage});
    EXPECT_EQ(refused.exitStatus, 0) << refused.err;
    EXPECT_NE(refused.err.find("own-link is a symbolic link"), std::string::npos) << refused.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path("disk/state")), {}),
              1);  // the history alone
}

// The history is never read as an image: the read's close of another descriptor
// of the file would drop the locks the program's own connection holds on it.
TEST_F(CliHistoryTest, TheHistoryIsNoImage) {
    ASSERT_EQ(recorded("flash-code", {"update", kSampleImage}).exitStatus, 0);
    const CliRun run = recorded("flash-code", {"update", history_});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("it is this run's history"), std::string::npos) << run.err;
}

TEST_F(CliHistoryTest, ImageTextsCannotBecomeSpreadsheetFormulas) {
    const std::string crafted = path("crafted.bin");
    ASSERT_EQ(runCli({"image", "edit", kSampleImage, "-o", crafted, "--serial", "=1+2"}).exitStatus, 0);
    ASSERT_EQ(recorded("flash-code", {"update", crafted}).exitStatus, 0);

    const std::vector<std::string> records = lines(listed({"--csv"}).out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[1].find(",'=1+2,"), std::string::npos) << records[1];
}

// A serial that clears the screen and rings the bell reaches no terminal or
// viewer through any of the three listings.
TEST_F(CliHistoryTest, ControlCharactersOfAnImageNeverReachTheListing) {
    const std::string crafted = path("crafted.bin");
    ASSERT_EQ(runCli({"image", "edit", kSampleImage, "-o", crafted, "--serial", "A\x1b[2J\x07B"}).exitStatus,
              0);
    ASSERT_EQ(recorded("flash-code", {"update", crafted}).exitStatus, 0);
    for (const std::vector<std::string>& format : {std::vector<std::string>{}, {"--csv"}}) {
        const std::string out = listed(format).out;
        EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
        EXPECT_EQ(out.find('\x07'), std::string::npos) << out;
    }
    const std::string json = runCli({"--json", "--history", history_, "history"}).out;
    EXPECT_EQ(json.find('\x1b'), std::string::npos) << json;
}

}  // namespace
}  // namespace velmora::testing
