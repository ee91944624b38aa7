// The production line's serial numbers in the SQLite history: blocks taken from a
// counter per prefix that several stations share, the UNIQUE constraint that keeps
// every number single, the station name held while it runs, the numbers a crashed
// station left voided by the next start of its name, and a counter used up. And a
// unit found in the history by its serial.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "history/HistoryDatabase.h"
#include "history/SerialCounter.h"
#include "tests/support/ScratchFolder.h"
#include "workflows/RunOrigin.h"

namespace velmora::testing {
namespace {

using history::SerialCounter;

class SerialCounterTest : public ::testing::Test {
protected:
    std::unique_ptr<SerialCounter> counter() {
        std::string error;
        auto opened = SerialCounter::open(path_, FolderCreation::MustExist, error);
        EXPECT_TRUE(opened) << error;
        return opened;
    }
    static SerialBlock reserve(SerialCounter& counter, const std::string& station, std::uint64_t start = 1,
                               std::uint64_t last = 999999, std::uint64_t count = 20) {
        std::string error;
        const std::optional<SerialBlock> block =
            counter.reserveBlock(station, "ZH", start, last, count, error);
        EXPECT_TRUE(block) << error;
        return block.value_or(SerialBlock{});
    }
    std::vector<history::SerialNumberRow> numbers(SerialCounter& counter) {
        std::string error;
        auto rows = counter.numbers("ZH", error);
        EXPECT_TRUE(rows) << error;
        return rows.value_or(std::vector<history::SerialNumberRow>{});
    }
    std::map<std::string, int> states(SerialCounter& counter) {
        std::map<std::string, int> counts;
        for (const auto& row : numbers(counter)) ++counts[row.state];
        return counts;
    }

    ScratchFolder scratch_{"velmora-serials"};
    std::string path_ = scratch_.path("history.sqlite");
};

TEST_F(SerialCounterTest, StationsSharingAFileTakeBlocksThatNeverOverlap) {
    auto first = counter();
    auto second = counter();
    std::string error;
    ASSERT_TRUE(first->beginStation("line-a", error)) << error;
    ASSERT_TRUE(second->beginStation("line-b", error)) << error;
    std::set<std::uint64_t> given;
    for (int round = 0; round < 5; ++round) {
        for (SerialCounter* station : {first.get(), second.get()}) {
            const SerialBlock block =
                reserve(*station, station == first.get() ? "line-a" : "line-b", 1, 999999, 7);
            EXPECT_EQ(block.count, 7u);
            for (std::uint64_t number = block.first; number < block.first + block.count; ++number)
                EXPECT_TRUE(given.insert(number).second) << number;
        }
    }
    EXPECT_EQ(*given.begin(), 1u);
    EXPECT_EQ(*given.rbegin(), 70u);
    // A start above the counter moves it on; one below it is never taken again.
    EXPECT_EQ(reserve(*first, "line-a", 500).first, 500u);
    EXPECT_EQ(reserve(*first, "line-a", 1).first, 520u);
}

TEST_F(SerialCounterTest, TheDatabaseItselfRefusesANumberTwice) {
    auto station = counter();
    std::string error;
    ASSERT_TRUE(station->beginStation("line-a", error)) << error;
    reserve(*station, "line-a");
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &handle), SQLITE_OK);
    const int status = sqlite3_exec(handle,
                                    "INSERT INTO serial_numbers (prefix, number, station, state, changed)"
                                    " VALUES ('ZH', 5, 'rogue', 'reserved', '');",
                                    nullptr, nullptr, nullptr);
    sqlite3_close(handle);
    EXPECT_EQ(status, SQLITE_CONSTRAINT);
}

TEST_F(SerialCounterTest, AStationsNameIsHeldWhileItRuns) {
    auto first = counter();
    auto second = counter();
    std::string error;
    ASSERT_TRUE(first->beginStation("line-a", error)) << error;
    EXPECT_FALSE(second->beginStation("line-a", error));
    EXPECT_EQ(error, "station 'line-a' is already running: a station's name names one station at a time");
    ASSERT_TRUE(second->beginStation("line-b", error)) << error;
    ASSERT_TRUE(first->endStation("line-a", error)) << error;
    auto third = counter();
    EXPECT_TRUE(third->beginStation("line-a", error)) << error;
    EXPECT_FALSE(third->beginStation(std::string(history::kStationNameMost + 1, 'x'), error));
}

TEST_F(SerialCounterTest, EndVoidsTheRestAndACrashIsVoidedAtTheNextStart) {
    std::string error;
    {
        auto station = counter();
        ASSERT_TRUE(station->beginStation("line-a", error)) << error;
        reserve(*station, "line-a", 1, 999999, 5);
        ASSERT_TRUE(station->markNumber("ZH", 1, SerialState::Used, {}, error)) << error;
        ASSERT_TRUE(station->markNumber("ZH", 2, SerialState::Void, {}, error)) << error;
        ASSERT_TRUE(station->markNumber("ZH", 3, SerialState::Issued, {}, error)) << error;
        // Killed here: no endStation; only its lock goes with the process.
    }
    auto restarted = counter();
    EXPECT_EQ(states(*restarted),
              (std::map<std::string, int>{{"used", 1}, {"void", 1}, {"issued", 1}, {"reserved", 2}}));
    ASSERT_TRUE(restarted->beginStation("line-a", error)) << error;
    EXPECT_EQ(states(*restarted), (std::map<std::string, int>{{"used", 1}, {"void", 4}}));
    // The unit cut off mid-run keeps its number void; the counter never goes back.
    EXPECT_EQ(reserve(*restarted, "line-a", 1, 999999, 5).first, 6u);
    ASSERT_TRUE(restarted->markNumber("ZH", 6, SerialState::Used, {}, error)) << error;
    ASSERT_TRUE(restarted->endStation("line-a", error)) << error;
    EXPECT_EQ(states(*restarted), (std::map<std::string, int>{{"used", 2}, {"void", 8}}));
    // A passed unit's number is never voided: a late void leaves it used, and the
    // late "used" mark of a unit that passed before the restart makes it used.
    ASSERT_TRUE(restarted->markNumber("ZH", 1, SerialState::Void, {}, error)) << error;
    ASSERT_TRUE(restarted->markNumber("ZH", 3, SerialState::Used, {}, error)) << error;
    EXPECT_EQ(states(*restarted), (std::map<std::string, int>{{"used", 3}, {"void", 7}}));
}

TEST_F(SerialCounterTest, TheCounterStopsAtTheLastNumberTheDigitsAllow) {
    auto station = counter();
    std::string error;
    ASSERT_TRUE(station->beginStation("line-a", error)) << error;
    const SerialBlock tail = reserve(*station, "line-a", 95, 99, 20);
    EXPECT_EQ(tail.first, 95u);
    EXPECT_EQ(tail.count, 5u);
    EXPECT_EQ(reserve(*station, "line-a", 95, 99, 20).count, 0u);
    EXPECT_EQ(numbers(*station).back().number, 99u);
}

TEST_F(SerialCounterTest, AUnitIsFoundByItsSerial) {
    counter();
    std::string error;
    auto database = history::HistoryDatabase::open(path_, error);
    ASSERT_TRUE(database) << error;
    history::HistoryRecord stamped;
    stamped.operation = "station";
    stamped.started = "2026-12-08T10:00:00.000Z";
    stamped.imageSerial = "ZH000007";
    stamped.hubSerial = "ZH000007";
    history::HistoryRecord other = stamped;
    other.imageSerial = "ZH000008";
    other.hubSerial = "ZH000008";
    history::HistoryRecord misreported = stamped;
    misreported.hubSerial = "ROM-DEFAULT";
    for (const history::HistoryRecord& record : {stamped, other, misreported})
        ASSERT_TRUE(database->insert(record, error)) << error;
    const auto found = database->list({"", "", "", "ZH000007"}, error);
    ASSERT_TRUE(found) << error;
    ASSERT_EQ(found->size(), 2u);
    EXPECT_EQ((*found)[0].hubSerial, "ZH000007");
    EXPECT_EQ((*found)[1].hubSerial, "ROM-DEFAULT");
    EXPECT_EQ(database->list({"", "", "", "ROM-DEFAULT"}, error)->size(), 1u);
}

// The serial text is what must be single: a prefix that is another followed by
// digits (CZ with 6 digits and CZ0 with 5 both give CZ000001) is refused once
// the other is counted, whichever came first; other pairs go on side by side.
TEST_F(SerialCounterTest, APrefixWhoseSerialsCanBeAnothersIsRefused) {
    struct Pair {
        const char* first;
        const char* second;
        bool secondTaken;
    };
    const std::vector<Pair> pairs = {
        {"AB", "AB0", false}, {"CD0", "CD", false}, {"EF", "EF12", false},
        {"GH", "GHX", true},  {"JK", "LM", true},
    };
    auto station = counter();
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(std::string(pair.first) + " then " + pair.second);
        std::string error;
        ASSERT_TRUE(station->reserveBlock("line-a", pair.first, 1, 99999, 2, error)) << error;
        EXPECT_EQ(station->reserveBlock("line-a", pair.second, 1, 99999, 2, error).has_value(),
                  pair.secondTaken);
        if (!pair.secondTaken) {
            EXPECT_EQ(error, std::string("serial prefix '") + pair.second +
                                 "' could give the same serial numbers as prefix '" + pair.first +
                                 "', which this history counts already: choose a prefix that is not the "
                                 "other followed by digits");
        }
    }
}

}  // namespace
}  // namespace velmora::testing
