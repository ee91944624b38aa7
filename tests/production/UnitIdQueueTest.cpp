// The scanned unit IDs: what a scan is taken as, and which unit takes which ID.
#include <gtest/gtest.h>

#include "production/UnitIdQueue.h"

namespace velmora {
namespace {

struct ScanCase {
    const char* name;
    std::string scanned;
    bool taken;
    std::string id;    // as kept
    std::string line;  // the answer
};

class UnitIdScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(UnitIdScanTest, ScanIsTakenOrRefusedWithItsLine) {
    UnitIdQueue queue;
    const ScanResult result = queue.scan(GetParam().scanned);
    EXPECT_EQ(result.taken, GetParam().taken);
    EXPECT_EQ(result.line, GetParam().line);
    EXPECT_EQ(queue.waiting(),
              GetParam().taken ? std::vector<std::string>{GetParam().id} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Scans, UnitIdScanTest,
    ::testing::Values(
        ScanCase{"Plain", "ZH-000123", true, "ZH-000123", "Unit ID ZH-000123 waits for the next unit"},
        ScanCase{"ScannerLineEnds", "  ZH-7\r\n", true, "ZH-7", "Unit ID ZH-7 waits for the next unit"},
        ScanCase{"Empty", " \t\r", false, "", "Unit ID refused: the scan was empty"},
        ScanCase{"Escape", "ZH\x1b[2J", false, "",
                 "Unit ID \"ZH?[2J\" refused: a label holds printable ASCII only"},
        ScanCase{"NotAscii", "ZH-\xc3\xa9", false, "",
                 "Unit ID \"ZH-\xc3\xa9\" refused: a label holds printable ASCII only"},
        ScanCase{"LongestTaken", std::string(64, 'A'), true, std::string(64, 'A'),
                 "Unit ID " + std::string(64, 'A') + " waits for the next unit"},
        ScanCase{"TooLong", std::string(100, 'B'), false, "",
                 "Unit ID \"" + std::string(80, 'B') + "...\" refused: longer than 64 characters"}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

TEST(UnitIdQueueTest, UnitsTakeIdsInScanOrderAndAPortsOwnFirst) {
    UnitIdQueue queue;
    ASSERT_TRUE(queue.scan("A").taken);
    ASSERT_TRUE(queue.scan("B").taken);
    ASSERT_TRUE(queue.scan("C", std::string("1-4")).taken);
    EXPECT_EQ(queue.waiting(), (std::vector<std::string>{"A", "B", "C (1-4)"}));
    // Waiting still, in either list: refused.
    for (const auto& port : {std::optional<std::string>{}, std::optional<std::string>{"1-2"}}) {
        const ScanResult again = queue.scan("C", port);
        EXPECT_FALSE(again.taken);
        EXPECT_EQ(again.line, "Unit ID C refused: it was scanned already and still waits for its unit");
    }
    EXPECT_EQ(queue.takeFor("1-4"), "C");
    EXPECT_EQ(queue.takeFor("1-1"), "A");
    EXPECT_EQ(queue.takeFor("1-4"), "B");
    EXPECT_EQ(queue.takeFor("1-4"), std::nullopt);
    // Taken: it may be scanned again (a unit tested twice).
    EXPECT_TRUE(queue.scan("A").taken);
    EXPECT_TRUE(queue.scan("D", std::string("1-9")).taken);
    EXPECT_EQ(queue.clear(), 2u);
    EXPECT_TRUE(queue.waiting().empty());
}

}  // namespace
}  // namespace velmora
