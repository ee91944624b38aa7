// The station as an operator starts it: eight hubs of the eight-hubs scenario
// updated in one run with --count, each recorded in the history, 64 hubs in
// progress at once, and an image the update would refuse refused before the
// first unit; a station killed in a unit's middle costs that number for good,
// and never gives it again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "history/SerialCounter.h"
#include "tests/cli/CliFixture.h"
#include "tests/cli/KilledStation.h"
#include "tests/support/HttpProbe.h"

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

// 64 hubs over four buses, behind hubs: each is listed once, and the station
// takes all 64 as units in progress at once and passes each.
TEST_F(CliStationTest, SixtyFourHubsAreListedOnceAndRunAsSixtyFourUnitsAtOnce) {
    const CliRun listed = simulated("sixty-four-hubs", {"list"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    std::set<std::string> ports;
    for (const std::string& line : lines(listed.out)) ports.insert(line.substr(0, line.find(' ')));
    EXPECT_EQ(lines(listed.out).size(), 64u);
    EXPECT_EQ(ports.size(), 64u);
    EXPECT_EQ(*ports.begin(), "1-2.1.1");
    EXPECT_EQ(*ports.rbegin(), "4-2.4.4");

    const CliRun run = simulated("sixty-four-hubs", {"station", kSampleImage, "--count", "64"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    const std::vector<std::string> shown = lines(run.out);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "passed 0, failed 0, in progress 64"), 1) << run.out;
    std::set<std::string> passed;
    for (const std::string& line : shown)
        if (line.find(": PASS 0102 -> 0102 (") != std::string::npos)
            passed.insert(line.substr(0, line.find(':')));
    EXPECT_EQ(passed, ports);
    EXPECT_EQ(shown.back(), "passed 64, failed 0, in progress 0");
}

// --scan: each line of standard input is a unit ID, answered with a line; a
// repeat still waiting, junk and an overlong line are refused. The lines there
// before the start go to the hubs present at the start, in port order.
TEST_F(CliStationTest, ScannedIdsAreAnsweredLineByLineAndTakenInPortOrder) {
    const std::string input = "ZH-1\nZH-1\n\x1b[2J\n" + std::string(2000, 'x') + "\nZH-2\r\nZH-3";
    const CliRun run = runCliWithInput(
        {"--config", config(), "--simulate=eight-hubs", "station", kSampleImage, "--count", "8", "--scan"},
        input);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    const std::vector<std::string> shown = lines(run.out);
    const auto has = [&shown](const std::string& line) {
        return std::find(shown.begin(), shown.end(), line) != shown.end();
    };
    for (const std::string& line :
         {std::string("Unit ID ZH-1 waits for the next unit"),
          std::string("Unit ID ZH-1 refused: it was scanned already and still waits for its unit"),
          std::string("Unit ID \"?[2J\" refused: a label holds printable ASCII only"),
          "Unit ID \"" + std::string(80, 'x') + "...\" refused: longer than 64 characters",
          std::string("Unit ID ZH-2 waits for the next unit"),
          std::string("Unit ID ZH-3 waits for the next unit")})
        EXPECT_TRUE(has(line)) << line << "\n" << run.out;
    int named = 0;
    for (const std::string& line : shown)
        for (const char* unit : {"1-1 ZH-1: PASS", "1-2 ZH-2: PASS", "1-3 ZH-3: PASS", "1-4: PASS"})
            named += line.rfind(unit, 0) == 0;
    EXPECT_EQ(named, 4) << run.out;
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

// Every unit its own serial number from the history's counter; the history finds
// a unit by it; a prefix and digit count that leave the serial no room beside
// the image's manufacturer and product are refused before any hub is touched.
TEST_F(CliStationTest, EachUnitGetsItsOwnSerialAndOneThatCannotFitIsRefusedFirst) {
    const std::string history = path("history.sqlite");
    CliRun run =
        simulated("eight-hubs", {"--history", history, "station", kSampleImage, "--count", "8",
                                 "--serial-prefix", "ZH", "--serial-digits", "6", "--serial-block", "3"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    int passed = 0;
    for (int number = 1; number <= 8; ++number)
        passed +=
            run.out.find(" ZH00000" + std::to_string(number) + ": PASS 0102 -> 0102 (") != std::string::npos;
    EXPECT_EQ(passed, 8) << run.out;
    const CliRun found = runCli({"--history", history, "history", "--serial", "ZH000005", "--csv"});
    ASSERT_EQ(lines(found.out).size(), 2u) << found.out;
    EXPECT_NE(lines(found.out)[1].find(",ZH000005,"), std::string::npos) << found.out;

    run = simulated("eight-hubs", {"--history", history, "station", kSampleImage, "--serial-prefix",
                                   "LINE-4-BAY-", "--serial-digits", "6"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("a serial number of 17 bytes does not fit the image"), std::string::npos)
        << run.err;

    run = simulated("eight-hubs", {"update", kSampleImage, "--all", "--serial", "ZH000001"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("--serial names one unit"), std::string::npos) << run.err;
}

// A simulated station's numbers are the bench's: the real counter in the same
// file still starts where it started.
TEST_F(CliStationTest, ASimulatedStationNeverTakesTheRealCountersNumbers) {
    const std::string history = path("history.sqlite");
    const CliRun run = simulated("eight-hubs", {"--history", history, "station", kSampleImage, "--count", "8",
                                                "--serial-prefix", "ZH", "--serial-digits", "6"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::string error;
    auto counter = history::SerialCounter::open(history, FolderCreation::MustExist, error);
    ASSERT_TRUE(counter) << error;
    const auto block = counter->reserveBlock("line-1", "ZH", 1, 999999, 5, error);
    ASSERT_TRUE(block) << error;
    EXPECT_EQ(block->first, 1u);
}

// The station's own file: the same checks as on a line's server
// (StationLinePostgresTest).
TEST_F(CliStationTest, AStationKilledMidUnitLeavesItsNumberVoidForGood) {
    const std::string file = path("history.sqlite");
    expectAKilledStationsNumbersStayVoid(
        {{"--history", file}, [&file](const std::string& prefix) {
             std::string error;
             // simulated hubs: a bench's numbers
             auto counter =
                 history::SerialCounter::open(file, FolderCreation::MustExist, error, RunOrigin::Simulated);
             auto numbers = counter ? counter->numbers(prefix, error) : std::nullopt;
             return numbers.value_or(std::vector<history::SerialNumberRow>{});
         }});
}

// The process holding SQLite's shared lock on the station's file, as another
// process sees it: every open connection holds it for its whole life, and a
// process that closes its connection takes the file's log with it only when
// it finds nobody else holding it.
pid_t sharedLockHolder(const std::string& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0x40000002;  // SQLite's shared range, past its pending and reserved bytes
    probe.l_len = 510;
    const bool asked = descriptor >= 0 && ::fcntl(descriptor, F_GETLK, &probe) == 0;
    if (descriptor >= 0) ::close(descriptor);
    return asked && probe.l_type != F_UNLCK ? probe.l_pid : 0;
}

// A station numbering its units from its own file, with listings and a
// one-unit station of another name on the same file while its units run: the
// station keeps its hold on the file after its first unit (its recorder and its
// counter share the process's one connection, so nothing dropped SQLite's
// locks), and every row and every number's mark is there at the end.
TEST_F(CliStationTest, ListingsAndAnotherStationBesideAStationLoseNoRowAndNoMark) {
    const std::string history = path("history.sqlite");
    const std::vector<std::string> common{"--config", config(), "--history", history, "--no-backup"};
    std::vector<std::string> numbered = common;
    numbered.insert(numbered.begin(), "--simulate=sixty-four-hubs");
    for (const char* word : {"--station-name", "bay-1", "station"}) numbered.emplace_back(word);
    numbered.push_back(kSampleImage);
    for (const char* word : {"--count", "64", "--serial-prefix", "LF", "--serial-digits", "6"})
        numbered.emplace_back(word);
    // In real time, so its units last long enough for the others to run beside them.
    const pid_t station = startCli(numbered, {"VELMORA_SIMULATED_TIME=real"});
    ASSERT_GT(station, 0);
    const auto numbers = [&history] {
        std::string error;
        auto counter =
            history::SerialCounter::open(history, FolderCreation::MustExist, error, RunOrigin::Simulated);
        return counter ? counter->numbers("LF", error).value_or(std::vector<history::SerialNumberRow>{})
                       : std::vector<history::SerialNumberRow>{};
    };
    int status = -1;
    bool ended = false;
    const auto running = [station, &status, &ended] {
        ended = ended || ::waitpid(station, &status, WNOHANG) == station;
        return !ended;
    };
    // Each look opens and closes a connection of this process on the file.
    bool firstUsed = false;
    for (const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         !firstUsed && running() && std::chrono::steady_clock::now() < guard;) {
        for (const history::SerialNumberRow& row : numbers()) firstUsed = firstUsed || row.state == "used";
        if (!firstUsed) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(firstUsed) << "the station never passed a unit";
    EXPECT_EQ(sharedLockHolder(history), station);

    std::vector<std::string> other = common;
    other.insert(other.begin(), "--simulate=eight-hubs");
    for (const char* word : {"--station-name", "bench-2", "station"}) other.emplace_back(word);
    other.push_back(kSampleImage);
    for (const char* word : {"--count", "1"}) other.emplace_back(word);
    const CliRun beside = runCli(other);
    EXPECT_EQ(beside.exitStatus, 0) << beside.out << beside.err;
    if (running()) {
        EXPECT_EQ(sharedLockHolder(history), station);
    }
    int listings = 0;
    while (running()) {
        const CliRun listed = runCli({"--history", history, "history", "--csv"});
        EXPECT_EQ(listed.exitStatus, 0) << listed.err;
        ++listings;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_GT(listings, 0);

    const CliRun listed = runCli({"--history", history, "history", "--csv"});
    EXPECT_EQ(listed.exitStatus, 0) << listed.err;
    EXPECT_EQ(lines(listed.out).size(), 1u + 64u + 1u)
        << listed.out;  // the header, the station's, the other's
    EXPECT_EQ(listed.out.find(",unfinished,"), std::string::npos) << listed.out;
    std::size_t used = 0;
    for (const history::SerialNumberRow& row : numbers()) {
        used += row.state == "used";
        EXPECT_TRUE(row.state == "used" || row.state == "void") << row.number << " " << row.state;
    }
    EXPECT_EQ(used, 64u);
}

// Two stations of one name would merge in the record: the second is refused
// while the first runs, with serial numbers or without.
TEST_F(CliStationTest, ASecondStationOfARunningNameIsRefusedWithOrWithoutSerials) {
    const std::string history = path("history.sqlite");
    const std::vector<std::string> named{"--config",    config(),         "--history", history,
                                         "--no-backup", "--station-name", "bay-9"};
    // The hub that never comes back after its reset holds the first station's unit.
    std::vector<std::string> first{"--simulate=never-returns"};
    first.insert(first.end(), named.begin(), named.end());
    for (const std::string& word :
         {std::string("station"), kSampleImage, std::string("--count"), std::string("1")})
        first.push_back(word);
    const pid_t running = startCli(first, {"VELMORA_SIMULATED_TIME=real"});
    ASSERT_GT(running, 0);
    std::vector<std::string> second{"--simulate=eight-hubs"};
    second.insert(second.end(), named.begin(), named.end());
    for (const std::string& word :
         {std::string("station"), kSampleImage, std::string("--count"), std::string("1")})
        second.push_back(word);
    // Once the first has a unit in its record it holds its name (taken before its first unit).
    for (const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         lines(runCli({"--history", history, "history", "--csv"}).out).size() < 2 &&
         std::chrono::steady_clock::now() < guard;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CliRun refused = runCli(second);
    EXPECT_EQ(refused.exitStatus, 2) << refused.err;
    EXPECT_NE(refused.err.find("station 'bay-9' is already running"), std::string::npos) << refused.err;
    second.insert(second.end(), {"--serial-prefix", "NM", "--serial-digits", "5"});
    refused = runCli(second);
    EXPECT_EQ(refused.exitStatus, 2) << refused.err;
    ::kill(running, SIGKILL);
    ::waitpid(running, nullptr, 0);
}

// The station's figures in their file after a counted run, as the lines said;
// an address or file that cannot be used ends the station before anything
// else, saying why.
TEST_F(CliStationTest, TheFiguresFileHoldsTheRunAndBadMetricsOptionsStopTheStationFirst) {
    const std::string figures = path("station.prom");
    CliRun run = simulated("eight-hubs", {"--station-name", "bench", "station", kSampleImage, "--count", "8",
                                          "--metrics", "127.0.0.1:0", "--metrics-file", figures});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("Station: figures for monitoring at http://127.0.0.1:")) << run.out;
    const std::vector<char> bytes = read(figures);
    const std::string text(bytes.begin(), bytes.end());
    for (int port = 1; port <= 8; ++port) {
        const std::string series = "velmora_station_units_finished_total{station=\"bench\",port=\"1-" +
                                   std::to_string(port) + "\",result=\"passed\"} 1\n";
        EXPECT_NE(text.find(series), std::string::npos) << series << text;
    }
    for (const char* line :
         {"velmora_station_units_in_progress{station=\"bench\"} 0\n",
          "velmora_station_taking_units{station=\"bench\"} 0\n",
          "velmora_station_phase_duration_seconds_count{station=\"bench\",phase=\"open\"} 8\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    struct stat info {};
    ASSERT_EQ(::stat(figures.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    // An image whose name the file's rule takes.
    const std::string image = write("fw.prom", read(kSampleImage));
    // A port another program listens on.
    const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), size), 0);
    ::listen(taken, 1);
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &size);
    const std::string busy = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const struct {
        std::vector<std::string> options;
        std::string reason;
    } cases[] = {
        {{"--metrics", "example.com:9464"}, "station: --metrics: 'example.com:9464' is not an address"},
        {{"--metrics", busy}, "station: --metrics: cannot listen on " + busy},
        {{"--metrics"}, "--metrics"},
        {{"--metrics-file", path("station.txt")}, "reads only files whose names end in .prom"},
        {{"--metrics-file", path("missing/station.prom")}, "station: --metrics-file: metrics file"},
        {{"--metrics", "127.0.0.1:0", "--metrics-file", folder_.string()}, "--metrics-file"},
        {{"--metrics-file", image}, "is a file this run reads or writes"},
    };
    for (const auto& one : cases) {
        std::vector<std::string> arguments{"station", image, "--count", "1"};
        arguments.insert(arguments.end(), one.options.begin(), one.options.end());
        run = simulated("eight-hubs", arguments);
        EXPECT_EQ(run.exitStatus, 2) << one.reason;
        EXPECT_EQ(run.out, "") << one.reason;
        EXPECT_NE(run.err.find(one.reason), std::string::npos) << run.err;
    }
    ::close(taken);
}

}  // namespace
}  // namespace velmora::testing
