// A line of stations on one real PostgreSQL server: four stations flashing their
// hubs at once take every serial from the server's counter, give none twice and
// leave none unaccounted for, and the server's run rows hold what the hubs say;
// a station killed in a unit's middle costs that number for good. The same
// checks as on a station's own file (StationSerialsTest, CliStationTest).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "history/server/PostgresHistory.h"
#include "history/server/PostgresSerialCounter.h"
#include "tests/cli/KilledStation.h"
#include "tests/production/LineOfStations.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

class StationLinePostgresTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server_.usable()) GTEST_SKIP() << server_.problem();
        // Each station writes its rows to its user's own file first, then sends
        // them: the four of this process share one here, as stations on one host
        // do, and never the real one.
        ::setenv("XDG_STATE_HOME", state_.path().c_str(), 1);
    }

    std::vector<history::HistoryRecord> runs() {
        std::string error;
        auto server = history::PostgresHistory::connect(server_.uri(), error);
        auto rows = server ? server->list({}, error) : std::nullopt;
        EXPECT_TRUE(rows) << error;
        return rows.value_or(std::vector<history::HistoryRecord>{});
    }

    // The stations run on simulated hubs: their numbers are a bench's.
    std::vector<history::SerialNumberRow> numbers(const std::string& prefix) {
        std::string error;
        auto counter = history::PostgresSerialCounter::connect(server_.uri(), error, RunOrigin::Simulated);
        auto rows = counter ? counter->numbers(prefix, error) : std::nullopt;
        EXPECT_TRUE(rows) << error;
        return rows.value_or(std::vector<history::SerialNumberRow>{});
    }

    PostgresServer server_;
    ScratchFolder state_{"velmora-line-state"};
};

TEST_F(StationLinePostgresTest, FourStationsOnOneServerNeverGiveANumberTwice) {
    expectFourStationsNeverGiveANumberTwice({server_.uri(), [this] { return runs(); },
                                             [this](const std::string& prefix) { return numbers(prefix); }});
}

TEST_F(StationLinePostgresTest, AStationKilledMidUnitLeavesItsNumberVoidForGood) {
    expectAKilledStationsNumbersStayVoid(
        {{"--history", server_.uri()}, [this](const std::string& prefix) { return numbers(prefix); }});
}

}  // namespace
}  // namespace velmora::testing
