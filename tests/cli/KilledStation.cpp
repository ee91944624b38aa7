#include "tests/cli/KilledStation.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <thread>

#include "tests/cli/CliProcess.h"
#include "workflows/UnitSerial.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

const std::string kImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";
const SerialFormat kFormat{"KS", 5};
constexpr std::uint64_t kBlock = 4;
// How often the history is asked whether the first station has a unit in
// flight, and how long at most: a guard, so a station that never takes one
// fails the test instead of holding it.
constexpr auto kLookPause = 20ms;
constexpr auto kLookGuard = 30s;

constexpr int kUnitsAfter = 3;  // the units of the station started again

// velmora-cli --simulate=SCENARIO --history H --no-backup --station-name bay-3
// station IMAGE --serial-prefix KS --serial-digits 5 --serial-block 4 MORE...
std::vector<std::string> stationArguments(const StationHistory& history, const std::string& scenario,
                                          const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments{"--simulate=" + scenario};
    arguments.insert(arguments.end(), history.arguments.begin(), history.arguments.end());
    for (const char* word : {"--no-backup", "--station-name", "bay-3", "station"}) arguments.emplace_back(word);
    arguments.push_back(kImage);
    for (const std::string& word : {std::string("--serial-prefix"), kFormat.prefix, std::string("--serial-digits"),
                                    std::to_string(kFormat.digits), std::string("--serial-block"),
                                    std::to_string(kBlock)})
        arguments.push_back(word);
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// The number the history shows issued and not yet finished: a unit in flight.
std::optional<std::uint64_t> issuedNumber(const StationHistory& history) {
    for (const history::SerialNumberRow& row : history.numbers(kFormat.prefix))
        if (row.state == "issued") return row.number;
    return std::nullopt;
}

// The serials a station's PASS lines show: "1-4 KS00006: PASS 0102 -> 0102 (...)".
std::vector<std::string> passedSerials(const std::string& out) {
    std::vector<std::string> serials;
    for (const std::string& line : lines(out)) {
        const std::size_t start = line.find(' ' + kFormat.prefix);
        const std::size_t end = line.find(": PASS ");
        if (start != std::string::npos && end != std::string::npos && start < end)
            serials.push_back(line.substr(start + 1, end - start - 1));
    }
    return serials;
}

}  // namespace

void expectAKilledStationsNumbersStayVoid(const StationHistory& history) {
    // The hub that never comes back after its reset holds its unit in flight for
    // the whole reconnect wait, on the wall clock: the kill lands inside the unit
    // however late it comes.
    const pid_t killed = startCli(stationArguments(history, "never-returns"), {"VELMORA_SIMULATED_TIME=real"});
    ASSERT_GT(killed, 0);
    std::optional<std::uint64_t> inFlight;
    for (const auto guard = std::chrono::steady_clock::now() + kLookGuard;
         !inFlight && std::chrono::steady_clock::now() < guard;) {
        inFlight = issuedNumber(history);
        if (!inFlight) std::this_thread::sleep_for(kLookPause);
    }
    ::kill(killed, SIGKILL);
    int status = 0;
    ::waitpid(killed, &status, 0);
    ASSERT_TRUE(inFlight) << "the station never took a unit";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    // Dead, the station left its block as it was: one number issued, the rest reserved.
    const std::vector<history::SerialNumberRow> left = history.numbers(kFormat.prefix);
    ASSERT_EQ(left.size(), kBlock);
    for (const history::SerialNumberRow& row : left)
        EXPECT_EQ(row.state, row.number == *inFlight ? "issued" : "reserved") << row.number;

    // The same name again (in virtual time): the dead station's numbers are voided
    // as it starts, and its own come from past them.
    const CliRun again = runCli(stationArguments(history, "eight-hubs", {"--count", std::to_string(kUnitsAfter)}));
    EXPECT_EQ(again.exitStatus, 0) << again.out << again.err;
    const std::vector<std::string> shown = passedSerials(again.out);
    EXPECT_EQ(shown.size(), static_cast<std::size_t>(kUnitsAfter)) << again.out;
    std::set<std::string> used;
    std::uint64_t expected = 1;
    for (const history::SerialNumberRow& row : history.numbers(kFormat.prefix)) {
        EXPECT_EQ(row.number, expected++);  // each number once, none skipped
        if (row.number <= kBlock) {
            EXPECT_EQ(row.state, "void") << row.number;
        } else if (row.state == "used") {
            used.insert(kFormat.serialOf(row.number));
        } else {
            EXPECT_EQ(row.state, "void") << row.number;
        }
    }
    EXPECT_EQ(used, std::set<std::string>(shown.begin(), shown.end()));
}

}  // namespace velmora::testing
