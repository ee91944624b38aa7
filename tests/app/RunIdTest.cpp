// Run names: UUIDs of version 7 that sort as the runs started and never repeat.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/IsoTime.h"
#include "app/RunId.h"

namespace velmora::testing {
namespace {

TEST(RunIdTest, VersionSevenIdsSortByTimeAndNeverRepeat) {
    const WallTime earlier = *parseIsoTime("2026-12-08T10:00:00.000Z");
    const WallTime later = *parseIsoTime("2026-12-08T10:00:00.001Z");
    std::set<std::string> seen;
    std::string previous;
    for (int index = 0; index < 1000; ++index) {
        const std::string uuid = RunId::make(index < 500 ? earlier : later).text();
        EXPECT_TRUE(RunId::parse(uuid)) << uuid;
        EXPECT_EQ(uuid[14], '7');
        EXPECT_NE(std::string("89ab").find(uuid[19]), std::string::npos) << uuid;
        if (index == 500) {
            EXPECT_LT(previous, uuid);  // a later millisecond sorts after
        }
        previous = uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_EQ(RunId::make(earlier).text().substr(0, 13), "01a25518-8500");  // 1796724000000 ms
    EXPECT_FALSE(RunId::parse("01a25518-8500-7000-8000-00000000000G"));
    EXPECT_TRUE(RunId().empty());
}

}  // namespace
}  // namespace velmora::testing
