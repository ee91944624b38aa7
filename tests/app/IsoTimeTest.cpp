// The times of the history: one sortable form written, and the forms a user types
// for --since read into the same instant.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "app/IsoTime.h"

namespace velmora::testing {
namespace {

struct TimeCase {
    const char* typed;
    const char* utc;  // nullptr: refused
};

class ParseIsoTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(ParseIsoTimeTest, ReadsTheInstantOrRefuses) {
    const auto parsed = parseIsoTime(GetParam().typed);
    if (GetParam().utc == nullptr) {
        EXPECT_FALSE(parsed) << isoUtc(*parsed);
    } else {
        ASSERT_TRUE(parsed);
        EXPECT_EQ(isoUtc(*parsed), GetParam().utc);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ParseIsoTimeTest,
    ::testing::Values(TimeCase{"2026-12-08T11:05:43Z", "2026-12-08T11:05:43.000Z"},
                      TimeCase{"2026-12-08T11:05Z", "2026-12-08T11:05:00.000Z"},
                      TimeCase{"2026-12-08 11:05:43.25Z", "2026-12-08T11:05:43.250Z"},
                      TimeCase{"2026-12-08T11:05:43.123456Z", "2026-12-08T11:05:43.123Z"},
                      TimeCase{"2026-12-08T12:05:43+01:00", "2026-12-08T11:05:43.000Z"},
                      TimeCase{"2026-12-08T06:05:43-0500", "2026-12-08T11:05:43.000Z"},
                      TimeCase{"2026-12-08T00:30+01", "2026-12-07T23:30:00.000Z"},
                      TimeCase{"2024-02-29T00:00Z", "2024-02-29T00:00:00.000Z"},
                      TimeCase{"2999-01-01T00:00Z", "2999-01-01T00:00:00.000Z"},
                      TimeCase{"2026-13-01", nullptr}, TimeCase{"2026-02-30", nullptr},
                      TimeCase{"2026-12-08T24:00Z", nullptr}, TimeCase{"2026-12-08T11:05:43Zjunk", nullptr},
                      TimeCase{"2026-12-8", nullptr}, TimeCase{"yesterday", nullptr},
                      TimeCase{"2026-12-08T11:05:43.Z", nullptr}, TimeCase{"", nullptr}));

TEST(IsoTimeTest, WithoutZoneTheTimeIsLocal) {
    const char* saved = std::getenv("TZ");
    const std::string restore = saved == nullptr ? "" : saved;
    ::setenv("TZ", "UTC-02", 1);  // POSIX: two hours east of UTC
    ::tzset();
    const auto dateOnly = parseIsoTime("2026-12-08");
    const auto withClock = parseIsoTime("2026-12-08T11:05");
    if (saved == nullptr) {
        ::unsetenv("TZ");
    } else {
        ::setenv("TZ", restore.c_str(), 1);
    }
    ::tzset();
    ASSERT_TRUE(dateOnly && withClock);
    EXPECT_EQ(isoUtc(*dateOnly), "2026-12-07T22:00:00.000Z");
    EXPECT_EQ(isoUtc(*withClock), "2026-12-08T09:05:00.000Z");
}

TEST(IsoTimeTest, StampsSortAsTheyHappened) {
    const WallTime early{std::chrono::milliseconds(999)};
    const WallTime late{std::chrono::milliseconds(1005)};
    EXPECT_EQ(isoUtc(early), "1970-01-01T00:00:00.999Z");
    EXPECT_EQ(isoUtc(late), "1970-01-01T00:00:01.005Z");
    EXPECT_LT(isoUtc(early), isoUtc(late));
}

}  // namespace
}  // namespace velmora::testing
