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
// How often the history is asked whether the station has a unit in flight, and
// how long at most: a guard, so a station that never takes one fails the test
// instead of holding it.
constexpr auto kLookPause = 20ms;
constexpr auto kLookGuard = 30s;

constexpr int kUnitsAfter = 3;  // the units of the station's last start

// velmora-cli --simulate=SCENARIO --history H --no-backup --station-name bay-3
// station IMAGE --serial-prefix KS --serial-digits 5 --serial-block 4 MORE...
std::vector<std::string> stationArguments(const StationHistory& history, const std::string& scenario,
                                          const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments{"--simulate=" + scenario};
    arguments.insert(arguments.end(), history.arguments.begin(), history.arguments.end());
    for (const char* word : {"--no-backup", "--station-name", "bay-3", "station"})
        arguments.emplace_back(word);
    arguments.push_back(kImage);
    for (const std::string& word :
         {std::string("--serial-prefix"), kFormat.prefix, std::string("--serial-digits"),
          std::to_string(kFormat.digits), std::string("--serial-block"), std::to_string(kBlock)})
        arguments.push_back(word);
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// A number above after that the history shows issued and not yet finished: a
// unit in flight.
std::optional<std::uint64_t> issuedNumber(const StationHistory& history, std::uint64_t after) {
    for (const history::SerialNumberRow& row : history.numbers(kFormat.prefix))
        if (row.number > after && row.state == "issued") return row.number;
    return std::nullopt;
}

// Starts the station on the hub that never comes back after its reset, which
// holds its unit in flight for the whole reconnect wait on the wall clock, so the
// kill lands inside the unit however late it comes; kills it once its unit's
// number, above after, shows issued. That number, none when the station never
// took a unit.
std::optional<std::uint64_t> killInFlight(const StationHistory& history, std::uint64_t after) {
    const pid_t station =
        startCli(stationArguments(history, "never-returns"), {"VELMORA_SIMULATED_TIME=real"});
    if (station <= 0) return std::nullopt;
    std::optional<std::uint64_t> inFlight;
    for (const auto guard = std::chrono::steady_clock::now() + kLookGuard;
         !inFlight && std::chrono::steady_clock::now() < guard;) {
        inFlight = issuedNumber(history, after);
        if (!inFlight) std::this_thread::sleep_for(kLookPause);
    }
    ::kill(station, SIGKILL);
    int status = 0;
    ::waitpid(station, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    return inFlight;
}

// The states of the numbers first to last: the unit's issued, the rest of its
// block as given (reserved, or void).
void expectBlock(const std::vector<history::SerialNumberRow>& numbers, std::uint64_t first,
                 std::uint64_t inFlight, const std::string& others) {
    ASSERT_GE(numbers.size(), first - 1 + kBlock);
    for (std::uint64_t number = first; number < first + kBlock; ++number)
        EXPECT_EQ(numbers[number - 1].state, number == inFlight ? "issued" : others) << number;
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
    // Dead, the station left its block as it was: one number issued, the rest reserved.
    const std::optional<std::uint64_t> first = killInFlight(history, 0);
    ASSERT_TRUE(first) << "the station never took a unit";
    std::vector<history::SerialNumberRow> numbers = history.numbers(kFormat.prefix);
    ASSERT_EQ(numbers.size(), kBlock);
    expectBlock(numbers, 1, *first, "reserved");

    // Started again under its name, the station voided that block before its
    // first unit, whose number comes from past it; and it dies too.
    const std::optional<std::uint64_t> second = killInFlight(history, kBlock);
    ASSERT_TRUE(second) << "the station started again never took a unit";
    numbers = history.numbers(kFormat.prefix);
    ASSERT_EQ(numbers.size(), 2 * kBlock);
    expectBlock(numbers, 1, 0, "void");
    expectBlock(numbers, kBlock + 1, *second, "reserved");

    // Once more, to the end (in virtual time): the numbers of both dead stations
    // are void, and the units' come from past them.
    const CliRun again =
        runCli(stationArguments(history, "eight-hubs", {"--count", std::to_string(kUnitsAfter)}));
    EXPECT_EQ(again.exitStatus, 0) << again.out << again.err;
    const std::vector<std::string> shown = passedSerials(again.out);
    EXPECT_EQ(shown.size(), static_cast<std::size_t>(kUnitsAfter)) << again.out;
    std::set<std::string> used;
    std::uint64_t expected = 1;
    for (const history::SerialNumberRow& row : history.numbers(kFormat.prefix)) {
        EXPECT_EQ(row.number, expected++);  // each number once, none skipped
        if (row.number > 2 * kBlock && row.state == "used") {
            used.insert(kFormat.serialOf(row.number));
        } else {
            EXPECT_EQ(row.state, "void") << row.number;
        }
    }
    EXPECT_EQ(used, std::set<std::string>(shown.begin(), shown.end()));
}

}  // namespace velmora::testing
