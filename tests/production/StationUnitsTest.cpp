// The station's bookkeeping: what makes a unit, the tally, --count and
// --expect-version, and the operator's first and second interrupt.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "production/StationUnits.h"

namespace velmora::testing {
namespace {

// A hub that runs firmware 0103 in its flash code.
const HubStatus kRunning0103{0x0103, true, 0};

using Ports = std::vector<std::string>;

TEST(StationUnitsTest, AUnitIsNeverUpdatedTwiceWhileItStaysPlugged) {
    StationUnits station({});
    EXPECT_EQ(station.observe({"1-1"}), Ports{"1-1"});
    // Our own resets take the hub off the bus and bring it back: the same unit.
    EXPECT_EQ(station.observe({}), Ports{});
    EXPECT_EQ(station.observe({"1-1"}), Ports{});
    EXPECT_TRUE(station.finish("1-1", true, kRunning0103, true).passed);
    for (int look = 0; look < 3; ++look) EXPECT_EQ(station.observe({"1-1"}), Ports{});

    // Unplugged and plugged in again: a new unit, updated again.
    EXPECT_EQ(station.observe({}), Ports{});
    EXPECT_EQ(station.observe({"1-1"}), Ports{"1-1"});
    EXPECT_EQ(station.tally().passed, 1);
    EXPECT_EQ(station.tally().inProgress, 1);
}

// Units found at one look start (and take their scanned IDs) in the bus's
// order, ports by number and a hub's port before those behind it.
TEST(StationUnitsTest, UnitsArrivingTogetherStartInTheBussOrder) {
    StationUnits station({});
    EXPECT_EQ(station.observe({"2-1", "1-10", "1-4.10", "1-4", "10-1", "1-2", "1-4.2"}),
              (Ports{"1-2", "1-4", "1-4.2", "1-4.10", "1-10", "2-1", "10-1"}));
}

TEST(StationUnitsTest, EightUnitsArrivingWhileEarlierOnesRun) {
    StationUnits station({});
    Ports present;
    std::vector<std::string> started;
    for (int hub = 1; hub <= 8; ++hub) {
        present.push_back("1-" + std::to_string(hub));
        for (const std::string& port : station.observe(present)) started.push_back(port);
        // Every other arrival, the oldest run still going ends.
        if (hub % 2 == 0) {
            const std::string oldest = station.inProgress().front();
            station.finish(oldest, true, kRunning0103, true);
        }
    }
    EXPECT_EQ(started, (Ports{"1-1", "1-2", "1-3", "1-4", "1-5", "1-6", "1-7", "1-8"}));
    EXPECT_EQ(station.inProgress(), (Ports{"1-5", "1-6", "1-7", "1-8"}));
    for (const std::string& port : station.inProgress())
        station.finish(port, port != "1-6", kRunning0103, true);
    EXPECT_EQ(station.observe(present), Ports{});
    const StationTally tally = station.tally();
    EXPECT_EQ(tally.passed, 7);
    EXPECT_EQ(tally.failed, 1);
    EXPECT_EQ(tally.inProgress, 0);
    EXPECT_FALSE(station.done());  // without --count the station waits for the next unit
    EXPECT_EQ(station.exitStatus(), 1);
}

TEST(StationUnitsTest, HubGoneAtTheEndOfItsRunHasLeft) {
    StationUnits station({});
    station.observe({"1-1"});
    // The reset's wait gave up: the hub is not on the bus when the run ends.
    EXPECT_FALSE(station.finish("1-1", false, std::nullopt, false).passed);
    EXPECT_EQ(station.observe({"1-1"}), Ports{"1-1"});
}

TEST(StationUnitsTest, CountStartsNoMoreUnitsThanAskedAndEndsWithThem) {
    StationUnits station({3, std::nullopt});
    EXPECT_EQ(station.observe({"1-4", "1-1", "1-3", "1-2"}), (Ports{"1-1", "1-2", "1-3"}));
    station.finish("1-1", true, kRunning0103, true);
    station.finish("1-2", true, kRunning0103, true);
    EXPECT_EQ(station.observe({"1-4", "1-1", "1-3", "1-2"}), Ports{});
    EXPECT_FALSE(station.done());
    station.finish("1-3", true, kRunning0103, true);
    EXPECT_TRUE(station.done());
    EXPECT_EQ(station.exitStatus(), 0);

    StationUnits failing({1, std::nullopt});
    failing.observe({"1-1"});
    failing.finish("1-1", false, std::nullopt, true);
    EXPECT_TRUE(failing.done());
    EXPECT_EQ(failing.exitStatus(), 1);
}

struct VersionCase {
    const char* name;
    bool runSucceeded;
    std::optional<HubStatus> statusAfter;
    bool passed;
    const char* mismatch;
};

class StationVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(StationVersionTest, ExpectedVersionDecidesAfterASuccessfulRun) {
    StationUnits station({std::nullopt, std::uint16_t{0x0103}});
    station.observe({"1-1"});
    const UnitVerdict verdict = station.finish("1-1", GetParam().runSucceeded, GetParam().statusAfter, true);
    EXPECT_EQ(verdict.passed, GetParam().passed);
    EXPECT_EQ(verdict.versionMismatch, GetParam().mismatch);
    EXPECT_EQ(station.tally().failed, GetParam().passed ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Versions, StationVersionTest,
                         ::testing::Values(VersionCase{"Expected", true, kRunning0103, true, ""},
                                           VersionCase{"Other", true, HubStatus{0x0102, true, 0}, false,
                                                       "runs version 0102, not the expected 0103"},
                                           VersionCase{"RomCode", true, HubStatus{0x0103, false, 0}, false,
                                                       "runs version rom, not the expected 0103"},
                                           VersionCase{"Unreadable", true, std::nullopt, false,
                                                       "runs version ----, not the expected 0103"},
                                           VersionCase{"RunFailed", false, kRunning0103, false, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StationUnitsTest, FirstInterruptLetsRunsFinishTheSecondAbandonsThem) {
    StationUnits station({});
    station.observe({"1-1", "1-2"});
    EXPECT_EQ(station.interrupt(), StationStop::Draining);
    EXPECT_EQ(station.inProgress(), (Ports{"1-1", "1-2"}));
    EXPECT_EQ(station.observe({"1-1", "1-2", "1-3"}), Ports{});  // takes no new unit
    station.finish("1-1", true, kRunning0103, true);
    EXPECT_FALSE(station.done());

    EXPECT_EQ(station.interrupt(), StationStop::Abandoning);
    EXPECT_TRUE(station.done());
    EXPECT_EQ(station.inProgress(), Ports{"1-2"});  // the hub that may be left in ROM code
    EXPECT_EQ(station.exitStatus(), 1);

    StationUnits drained({});
    drained.observe({"1-1"});
    drained.interrupt();
    drained.finish("1-1", true, kRunning0103, true);
    EXPECT_TRUE(drained.done());
    EXPECT_EQ(drained.exitStatus(), 0);
}

// Workers end their units while the station's loop keeps looking at the bus.
TEST(StationThreadsTest, TallyHoldsWithWorkersFinishingAtOnce) {
    StationUnits station({8, std::nullopt});
    Ports present;
    for (int hub = 1; hub <= 8; ++hub) present.push_back("1-" + std::to_string(hub));
    const Ports started = station.observe(present);
    ASSERT_EQ(started.size(), 8u);
    std::vector<std::thread> workers;
    for (const std::string& port : started) {
        workers.emplace_back([&station, port] { station.finish(port, port != "1-3", kRunning0103, true); });
    }
    while (!station.done()) EXPECT_EQ(station.observe(present), Ports{});
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(station.tally().passed, 7);
    EXPECT_EQ(station.tally().failed, 1);
    EXPECT_EQ(station.exitStatus(), 1);
}

}  // namespace
}  // namespace velmora::testing
