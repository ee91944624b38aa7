// A line's serial numbers on one real PostgreSQL server: stations taking blocks
// at once never share a number and leave none unaccounted for; a station's name
// is one station's while it runs; a station whose server is away at its start
// does not start.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "history/server/PostgresHistory.h"
#include "history/server/PostgresResult.h"
#include "history/server/PostgresSerialCounter.h"
#include "history/server/ServerTables.h"
#include "production/StationSerials.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ScratchFolder.h"
#include "workflows/RunOrigin.h"

namespace velmora::testing {
namespace {

using history::PostgresSerialCounter;

const std::string kSampleImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";

class PostgresSerialCounterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server_.usable()) GTEST_SKIP() << server_.problem();
    }

    std::unique_ptr<PostgresSerialCounter> counter() {
        std::string error;
        auto made = PostgresSerialCounter::connect(server_.uri(), error);
        EXPECT_TRUE(made) << error;
        return made;
    }

    static SerialSettings settings(const std::string& station, std::uint64_t block = 5) {
        return {{"VM", 6}, 1, block, station};
    }

    PostgresServer server_;
};

TEST_F(PostgresSerialCounterTest, FourStationsTakingBlocksAtOnceNeverShareANumber) {
    constexpr int kStations = 4;
    constexpr int kUnits = 40;
    std::vector<std::vector<std::uint64_t>> taken(kStations);
    std::vector<std::thread> stations;
    for (int index = 0; index < kStations; ++index) {
        stations.emplace_back([this, index, &taken] {
            auto source = counter();
            if (!source) return;
            StationSerials serials(*source, settings("station-" + std::to_string(index)));
            std::string error;
            ASSERT_TRUE(serials.begin(error)) << error;
            for (int unit = 0; unit < kUnits; ++unit) {
                const SerialTake take = serials.take();
                ASSERT_TRUE(take.number) << take.stopLine;
                taken[index].push_back(*take.number);
                serials.finish(*take.number, *take.number % 7 != 0, {});  // every seventh unit fails
            }
            serials.take();  // issued, then the station ends with it unfinished: void
            EXPECT_TRUE(serials.end(error)) << error;
        });
    }
    for (std::thread& station : stations) station.join();

    std::set<std::uint64_t> all;
    for (const auto& numbers : taken) all.insert(numbers.begin(), numbers.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kStations * kUnits));

    std::string error;
    const auto rows = counter()->numbers("VM", error);
    ASSERT_TRUE(rows) << error;
    // The numbers given form one run from 1 with no gap, each once, each ending
    // used (a passed unit of its station) or void; nothing is left open.
    std::map<std::string, int> states;
    for (std::size_t index = 0; index < rows->size(); ++index) {
        const auto& row = (*rows)[index];
        EXPECT_EQ(row.number, index + 1);
        ++states[row.state];
        const bool passed = all.count(row.number) == 1 && row.number % 7 != 0;
        EXPECT_EQ(row.state, passed ? "used" : "void") << row.number;
    }
    // Blocks of five: each station's 41 numbers come from nine blocks, four left over.
    EXPECT_EQ(rows->size(), static_cast<std::size_t>(kStations * 45));
    const std::size_t failed = std::count_if(all.begin(), all.end(), [](auto n) { return n % 7 == 0; });
    EXPECT_EQ(states["used"], static_cast<int>(all.size() - failed));
    EXPECT_EQ(states["void"], static_cast<int>(rows->size() - all.size() + failed));
    EXPECT_EQ(server_.query("SELECT next_number FROM velmora_serial_counters WHERE prefix = 'VM';"),
              std::to_string(rows->size() + 1) + "\n");
}

TEST_F(PostgresSerialCounterTest, StationNameIsOneStationsWhileItRunsAndACrashVoidsItsBlock) {
    auto first = counter();
    auto second = counter();
    ASSERT_TRUE(first && second);
    std::string error;
    ASSERT_TRUE(first->beginStation("bench-1", error)) << error;
    EXPECT_FALSE(second->beginStation("bench-1", error));
    EXPECT_NE(error.find("station 'bench-1' is already running"), std::string::npos) << error;
    EXPECT_TRUE(second->beginStation("bench-2", error)) << error;
    EXPECT_TRUE(second->endStation("bench-2", error)) << error;

    // The first station dies holding a block: its session ends, so its name is
    // free, and the next station of that name voids what it left.
    ASSERT_TRUE(first->reserveBlock("bench-1", "CR", 1, 999, 3, error)) << error;
    ASSERT_TRUE(first->markNumber("CR", 1, SerialState::Used, {}, error)) << error;
    first.reset();
    ASSERT_TRUE(second->beginStation("bench-1", error)) << error;
    EXPECT_EQ(server_.query("SELECT number, state FROM velmora_serial_numbers WHERE prefix = 'CR'"
                            " ORDER BY number;"),
              "1|used\n2|void\n3|void\n");
    // And the counter goes on past them: a voided number is never given again.
    const auto block = second->reserveBlock("bench-1", "CR", 1, 999, 2, error);
    ASSERT_TRUE(block) << error;
    EXPECT_EQ(block->first, 4u);
    // The last number the digits allow: the block stops there, then none.
    EXPECT_EQ(second->reserveBlock("bench-1", "CR", 1, 8, 5, error)->count, 3u);
    EXPECT_EQ(second->reserveBlock("bench-1", "CR", 1, 8, 5, error)->count, 0u);
}

// A station frozen in the middle of reserving a block holds the counter's row
// inside its open transaction: the server ends that session once it sits idle,
// and another station of the prefix gets its block instead of waiting for good.
TEST_F(PostgresSerialCounterTest, AStationFrozenInsideItsReservationHoldsTheCounterNoLonger) {
    auto first = counter();
    auto second = counter();
    ASSERT_TRUE(first && second);
    std::string error;
    ASSERT_TRUE(first->reserveBlock("frozen", "VM", 1, 999999, 5, error)) << error;
    auto line = history::PostgresHistory::connect(server_.uri(), error);
    ASSERT_TRUE(line) << error;
    const bool holding = line->use(
        [](pg_conn* connection, std::string&) {
            // Left open, as a station stopped between its statements leaves it.
            return history::PostgresResult(PQexec(connection,
                                                  "BEGIN; SELECT next_number FROM"
                                                  " velmora_serial_counters FOR UPDATE;"))
                .is(PGRES_TUPLES_OK);
        },
        error);
    ASSERT_TRUE(holding) << error;
    const auto block = second->reserveBlock("waiting", "VM", 1, 999999, 5, error);
    ASSERT_TRUE(block) << error;
    EXPECT_EQ(block->first, 6u);
}

TEST_F(PostgresSerialCounterTest, ServerAwayForAWhileCostsTheStationNoNumberAndNotItsName) {
    auto source = counter();
    ASSERT_TRUE(source);
    StationSerials serials(*source, settings("outage", 4));
    std::string error;
    ASSERT_TRUE(serials.begin(error)) << error;
    const SerialTake before = serials.take();
    ASSERT_TRUE(server_.stop());
    serials.finish(*before.number, true, {});  // waits: the server is away
    const SerialTake during = serials.take();
    ASSERT_TRUE(during.number) << during.stopLine;  // from the block already held
    ASSERT_TRUE(server_.start());
    std::this_thread::sleep_for(history::kServerReconnectPause);
    serials.finish(*during.number, true, {});
    // Back on a new session, the name is this station's again.
    auto rival = counter();
    ASSERT_TRUE(rival);
    EXPECT_FALSE(rival->beginStation("outage", error));
    EXPECT_TRUE(serials.end(error)) << error;
    EXPECT_EQ(server_.query("SELECT number, state FROM velmora_serial_numbers ORDER BY number;"),
              "1|used\n2|used\n3|void\n4|void\n");
}

TEST_F(PostgresSerialCounterTest, StationTakesItsNumbersFromTheServerAndDoesNotStartWithoutIt) {
    ScratchFolder scratch{"velmora-serial-line"};
    const std::string state = "XDG_STATE_HOME=" + scratch.path("state");
    const std::vector<std::string> station{"--simulate=eight-hubs",
                                           "--station-name",
                                           "line-1",
                                           "station",
                                           kSampleImage,
                                           "--count",
                                           "3",
                                           "--serial-prefix",
                                           "LN",
                                           "--serial-digits",
                                           "5"};
    std::vector<std::string> arguments{"--history", server_.uri()};
    arguments.insert(arguments.end(), station.begin(), station.end());
    const CliRun run = runCli(arguments, {state, "VELMORA_SIMULATED_TIME=virtual"});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(server_.query("SELECT count(*) FILTER (WHERE state = 'used'), min(number), max(station)"
                            " FROM velmora_serial_numbers WHERE prefix = 'LN';"),
              "3|1|line-1\n");

    // A server nobody answers at: no numbers of the station's own, and exit 1.
    arguments[1] = "postgresql:///velmora?host=" + scratch.path("no-server");
    const CliRun away = runCli(arguments, {state, "VELMORA_SIMULATED_TIME=virtual"});
    EXPECT_EQ(away.exitStatus, 1);
    EXPECT_NE(away.err.find("cannot be reached"), std::string::npos) << away.err;
    EXPECT_EQ(away.out.find("PASS"), std::string::npos) << away.out;
}

// A server of layout 3, the one before runs had one name everywhere, is brought
// up to date by the first station that connects: a testbed's runs are called so,
// and the line's serial numbers are a real line's, counted on from where they
// stood, with a bench's counter of their own beside them.
TEST_F(PostgresSerialCounterTest, ServerOfLayoutThreeKeepsItsNumbersAndGetsBenchRunsApart) {
    for (const history::ServerLayoutStep& step : history::kServerLayoutSteps)
        if (step.version <= 3) server_.query(step.sql);
    server_.query(
        "CREATE TABLE velmora_layout (version integer NOT NULL); INSERT INTO velmora_layout VALUES (3);"
        "INSERT INTO velmora_runs (run_uuid, operation, started, origin)"
        " VALUES ('01a25518-8500-7000-8000-000000000003', 'update', '2026-01-03T00:00:00.000Z', 'replayed');"
        "INSERT INTO velmora_serial_counters VALUES ('VM', 8);"
        "INSERT INTO velmora_serial_numbers (prefix, number, station, state) VALUES ('VM', 7, 'bay-1', "
        "'used');");

    auto real = counter();
    ASSERT_TRUE(real);
    EXPECT_EQ(server_.query("SELECT version FROM velmora_layout;"),
              std::to_string(history::kServerLayoutVersion) + "\n");
    EXPECT_EQ(server_.query("SELECT origin FROM velmora_runs;"), "testbed\n");
    std::string error;
    ASSERT_TRUE(real->beginStation("bay-2", error)) << error;
    EXPECT_EQ(real->reserveBlock("bay-2", "VM", 1, 999, 2, error)->first, 8u) << error;
    ASSERT_TRUE(real->markNumber("VM", 8, SerialState::Used, RunId::make(), error)) << error;
    EXPECT_EQ(real->numbers("VM", error)->front().state, "used");
    auto bench = PostgresSerialCounter::connect(server_.uri(), error, RunOrigin::Simulated);
    ASSERT_TRUE(bench) << error;
    EXPECT_EQ(bench->reserveBlock("bay-2", "VM", 1, 999, 2, error)->first, 1u) << error;
    EXPECT_EQ(server_.query("SELECT count(*) FROM velmora_serial_numbers WHERE run_uuid <> '';"), "1\n");
}

// On the server too the serial text is single across prefixes: CZ0 is refused
// once CZ is counted.
TEST_F(PostgresSerialCounterTest, APrefixWhoseSerialsCanBeAnothersIsRefused) {
    auto station = counter();
    std::string error;
    ASSERT_TRUE(station->reserveBlock("line-a", "CZ", 1, 999999, 2, error)) << error;
    EXPECT_FALSE(station->reserveBlock("line-a", "CZ0", 1, 99999, 2, error));
    EXPECT_NE(error.find("serial prefix 'CZ0' could give the same serial numbers as prefix 'CZ'"),
              std::string::npos)
        << error;
    EXPECT_TRUE(station->reserveBlock("line-a", "CZX", 1, 99999, 2, error)) << error;
}

}  // namespace
}  // namespace velmora::testing
