// A line of stations on one real PostgreSQL server: four stations flashing their
// hubs at once take every serial from the server's counter, give none twice and
// leave none unaccounted for, and the server's run rows hold what the hubs say;
// a station killed in a unit's middle costs that number for good. The same
// checks as on a station's own file (StationSerialsTest, CliStationTest). While
// the server is away, a station's figures show its rows waiting, and none once
// it is back.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "history/server/PostgresHistory.h"
#include "history/server/PostgresSerialCounter.h"
#include "tests/cli/CliProcess.h"
#include "tests/cli/KilledStation.h"
#include "tests/production/LineOfStations.h"
#include "tests/support/HttpProbe.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/PrometheusServer.h"
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

// The station's figures over HTTP, until the series has the value (a guard of 30 s).
std::string figureOnceItIs(std::uint16_t port, const std::string& series, const std::string& value) {
    std::string text;
    for (int attempt = 0; attempt < 300; ++attempt) {
        text = bodyOf(askHttp(port, getRequest("/metrics")));
        if (text.find("\n" + series + " " + value + "\n") != std::string::npos) return value;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return text;
}

TEST_F(StationLinePostgresTest, RowsWaitWhileTheServerIsAwayAndLeaveOnceItIsBack) {
    ASSERT_TRUE(server_.stop());
    const std::uint16_t port = freeLoopbackPort();
    const pid_t station = startCli({"--simulate=two-hubs", "--history", server_.uri(), "--station-name",
                                    "bay-5", "station", VELMORA_TEST_RESOURCES "/images/sample-update.bin",
                                    "--metrics", "127.0.0.1:" + std::to_string(port)},
                                   {"VELMORA_SIMULATED_TIME=real", "VELMORA_HISTORY_RETRY_MS=200"});
    ASSERT_GT(station, 0);
    const std::string waiting = R"(velmora_history_rows_waiting{station="bay-5"})";
    const std::string passed =
        R"(velmora_station_units_finished_total{station="bay-5",port="1-2",result="passed"})";
    EXPECT_EQ(figureOnceItIs(port, passed, "1"), "1");
    EXPECT_EQ(figureOnceItIs(port, waiting, "2"), "2");
    ASSERT_TRUE(server_.start());
    EXPECT_EQ(figureOnceItIs(port, waiting, "0"), "0");
    ::kill(station, SIGINT);
    int status = 0;
    ::waitpid(station, &status, 0);
    EXPECT_EQ(runs().size(), 2u);
}

}  // namespace
}  // namespace velmora::testing
