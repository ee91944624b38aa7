// The serial numbers' marks kept in the station's file until the line's real
// PostgreSQL server has them: a station whose server is away at its end keeps
// its passed units' marks and `history sync` brings them; a station killed with
// its server frozen voids no passed unit's number at its next start; a mark the
// server refuses is set aside and holds no other up; a bench's update of a
// serial the line gave says so.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "history/HistoryDatabase.h"
#include "history/HistorySender.h"
#include "history/SerialMarks.h"
#include "history/StationFile.h"
#include "history/server/PostgresHistory.h"
#include "history/server/PostgresSerialCounter.h"
#include "production/StationSerials.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SerialSettingsFor.h"
#include "workflows/RunOrigin.h"

namespace velmora::testing {
namespace {

using history::PostgresHistory;
using history::PostgresSerialCounter;

const std::string kSampleImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";

class PostgresSerialMarksTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server_.usable()) GTEST_SKIP() << server_.problem();
    }

    // The station file velmora-cli keeps under the test's XDG_STATE_HOME.
    std::shared_ptr<history::StationFile> stationFile() {
        std::string error;
        auto file = history::StationFile::open(filePath_, FolderCreation::Create, error);
        EXPECT_TRUE(file) << error;
        return file;
    }

    std::unique_ptr<PostgresSerialCounter> counter(const std::shared_ptr<history::StationFile>& file,
                                                   RunOrigin origin = RunOrigin::Real) {
        return std::make_unique<PostgresSerialCounter>(std::make_shared<PostgresHistory>(server_.uri()),
                                                       origin, file);
    }

    std::size_t marksWaiting(const std::shared_ptr<history::StationFile>& file) {
        std::string error;
        const auto count =
            history::countWaitingMarks(file->database(), history::serverIdentity(server_.uri()), {}, error);
        EXPECT_TRUE(count) << error;
        return count.value_or(0);
    }

    PostgresServer server_;
    ScratchFolder scratch_{"velmora-marks"};
    const std::string state_ = "XDG_STATE_HOME=" + scratch_.path("state");
    const std::string filePath_ = scratch_.path("state") + "/velmora/history.sqlite";
};

TEST_F(PostgresSerialMarksTest, MarksOfAStationEndingWhileTheServerIsAwayArriveByHistorySync) {
    auto file = stationFile();
    auto source = counter(file, RunOrigin::Simulated);
    std::string error;
    {
        StationSerials serials(*source, serialSettings("VM", 6, 1, 5, "bay-s"));
        ASSERT_TRUE(serials.begin(error)) << error;
        for (int unit = 0; unit < 3; ++unit) ASSERT_TRUE(serials.take().number);
        ASSERT_TRUE(server_.stop());
        // Kept at once: the units wait for no server.
        serials.finish(1, true, RunId::make());
        serials.finish(2, true, RunId::make());
        serials.finish(3, false, RunId::make());
        EXPECT_FALSE(serials.end(error));
    }
    // The three finished units' marks at least (the issued ones may have gone before).
    const std::size_t waiting = marksWaiting(file);
    EXPECT_GE(waiting, 3u);
    EXPECT_EQ(
        error.rfind(std::to_string(waiting) +
                        " serial numbers' marks wait in this station's history file for the line's server",
                    0),
        0u)
        << error;
    ASSERT_TRUE(server_.start());
    const CliRun sync = runCli({"--history", server_.uri(), "history", "sync"}, {state_});
    EXPECT_EQ(sync.exitStatus, 0) << sync.err;
    EXPECT_EQ(
        server_.query("SELECT number, state FROM velmora_serial_numbers WHERE number <= 3 ORDER BY number;"),
        "1|used\n2|used\n3|void\n");
    EXPECT_EQ(marksWaiting(file), 0u);

    // A bench writing a serial the line gave is told so, and goes on.
    const CliRun bench =
        runCli({"--simulate", "--history", server_.uri(), "update", kSampleImage, "--serial", "VM000002"},
               {state_, "VELMORA_SIMULATED_TIME=virtual"});
    EXPECT_EQ(bench.exitStatus, 0) << bench.err;
    EXPECT_NE(bench.err.find("update --serial: VM000002 was given by station 'bay-s' (used, in postgresql:"),
              std::string::npos)
        << bench.err;
}

// Polls what until it holds, for 60 s at most.
template <class Check>
bool eventually(Check check) {
    for (const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         std::chrono::steady_clock::now() < guard; std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (check()) return true;
    return false;
}

TEST_F(PostgresSerialMarksTest, AStationKilledWithItsServerFrozenVoidsNoPassedUnitAtItsNextStart) {
    const pid_t station =
        startCli({"--simulate=two-hubs", "--history", server_.uri(), "--station-name", "bay-k", "station",
                  kSampleImage, "--serial-prefix", "ZK", "--serial-digits", "6"},
                 {state_, "VELMORA_SIMULATED_TIME=real"});
    ASSERT_GT(station, 0);
    // Frozen once the station has begun: its first block is on the server.
    ASSERT_TRUE(eventually([this] {
        return server_.query("SELECT to_regclass('velmora_serial_numbers') IS NOT NULL;") == "t\n" &&
               server_.query("SELECT count(*) > 0 FROM velmora_serial_numbers WHERE station = 'bay-k';") ==
                   "t\n";
    }));
    ASSERT_TRUE(server_.freeze());
    // Both units pass with the server frozen: their used marks are in the file.
    std::unique_ptr<history::HistoryDatabase> reader;
    const bool passed = eventually([&] {
        std::string error;
        if (!reader) reader = history::HistoryDatabase::open(filePath_, error);
        if (!reader) return false;
        const auto marks =
            history::waitingMarks(*reader, history::serverIdentity(server_.uri()), {}, 0, 100, error);
        int used = 0;
        for (const history::SerialMark& mark : marks.value_or(std::vector<history::SerialMark>{}))
            used += mark.state == "used";
        return used == 2;
    });
    ::kill(station, SIGKILL);
    ::waitpid(station, nullptr, 0);
    reader.reset();
    server_.thaw();
    ASSERT_TRUE(passed);

    auto file = stationFile();
    auto again = counter(file, RunOrigin::Simulated);
    std::string error;
    ASSERT_TRUE(again->beginStation("bay-k", error)) << error;
    EXPECT_EQ(server_.query("SELECT state, count(*) FROM velmora_serial_numbers WHERE station = 'bay-k'"
                            " GROUP BY state ORDER BY state;"),
              "used|2\nvoid|18\n");
    EXPECT_EQ(marksWaiting(file), 0u);
}

// The sender takes the marks kept for its server beside the rows, whichever
// station kept them.
TEST_F(PostgresSerialMarksTest, TheSenderTakesTheKeptMarksToItsServer) {
    auto file = stationFile();
    auto source = counter(file);
    std::string error;
    ASSERT_TRUE(source->beginStation("bay-t", error)) << error;
    ASSERT_EQ(source->reserveBlock("bay-t", "VT", 1, 999, 2, error)->count, 2u) << error;
    ASSERT_TRUE(source->keepMark("bay-t", "VT", 1, SerialState::Used, RunId::make(), error)) << error;
    ASSERT_TRUE(source->keepMark("bay-t", "VT", 2, SerialState::Void, RunId::make(), error)) << error;
    PostgresHistory server(server_.uri());
    history::HistorySender sender(file, server, true, {}, {});
    sender.wake();
    EXPECT_TRUE(eventually([this] {
        return server_.query("SELECT string_agg(state, ',' ORDER BY number) FROM velmora_serial_numbers;") ==
               "used,void\n";
    }));
    EXPECT_TRUE(eventually([&] { return marksWaiting(file) == 0; }));
}

TEST_F(PostgresSerialMarksTest, AMarkTheServerRefusesIsSetAsideAndNeverVoidsItsPassedUnit) {
    const std::string prefix = "V\"R\\{,}";  // every character an array literal could trip on
    auto file = stationFile();
    auto source = counter(file);
    std::string error;
    ASSERT_TRUE(source->beginStation("bay-r", error)) << error;
    ASSERT_EQ(source->reserveBlock("bay-r", prefix, 1, 999, 3, error)->count, 3u) << error;
    server_.query(
        "CREATE FUNCTION refuse_two() RETURNS trigger LANGUAGE plpgsql AS"
        " $$BEGIN RAISE EXCEPTION 'number % is under audit', NEW.number; END$$;"
        "CREATE TRIGGER refuse_two BEFORE UPDATE ON velmora_serial_numbers FOR EACH ROW"
        " WHEN (NEW.number = 2) EXECUTE FUNCTION refuse_two();");
    const auto keep = [&](std::uint64_t number, SerialState state) {
        std::string failed;
        EXPECT_TRUE(source->keepMark("bay-r", prefix, number, state, RunId::make(), failed)) << failed;
    };
    keep(1, SerialState::Used);
    keep(2, SerialState::Used);
    keep(3, SerialState::Void);
    // Late marks take no number back: a void never overwrites used, issued never revives void.
    keep(1, SerialState::Void);
    keep(3, SerialState::Issued);
    std::size_t waiting = 0;
    ASSERT_TRUE(source->sendKeptMarks("bay-r", waiting, error)) << error;
    EXPECT_EQ(waiting, 1u);
    EXPECT_EQ(server_.query("SELECT number, state FROM velmora_serial_numbers ORDER BY number;"),
              "1|used\n2|reserved\n3|void\n");
    // The station ends and the next of its name starts: number 2's unit passed, so it stays open.
    ASSERT_TRUE(source->endStation("bay-r", error)) << error;
    auto next = counter(file);
    ASSERT_TRUE(next->beginStation("bay-r", error)) << error;
    EXPECT_EQ(server_.query("SELECT state FROM velmora_serial_numbers WHERE number = 2;"), "reserved\n");
    EXPECT_EQ(marksWaiting(file), 1u);
}

}  // namespace
}  // namespace velmora::testing
