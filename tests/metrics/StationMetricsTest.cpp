#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "metrics/StationMetrics.h"

namespace velmora::metrics {
namespace {

bool hasLine(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos;
}

TEST(StationMetricsTest, CountsUnitsByPortResultAndPhase) {
    StationMetrics metrics("bench", "1.02");
    for (const char* port : {"1-1", "1-2", "1-1", "1-3"}) metrics.unitStarted(port);
    metrics.phaseEnded("erase", 2);
    metrics.phaseEnded("erase", 60);
    metrics.phaseEnded("open", 0.01);
    // A clock that stepped back or broke gives no negative or NaN figure.
    metrics.phaseEnded("reset", -3);
    metrics.phaseEnded("reset", std::numeric_limits<double>::quiet_NaN());
    metrics.unitFinished("1-1", UnitResult::Passed);
    metrics.unitFinished("1-1", UnitResult::Failed, "verify");
    metrics.unitFinished("1-3", UnitResult::Failed);
    const std::string before = metrics.render(ExpositionFormat::PrometheusText);
    // A station without serial numbers or a line's server has no such figures.
    EXPECT_EQ(before.find("serial_numbers_left"), std::string::npos);
    EXPECT_EQ(before.find("rows_refused"), std::string::npos);
    EXPECT_TRUE(hasLine(before, R"(velmora_station_taking_units{station="bench"} 0)"));

    metrics.setTakingUnits(true);
    metrics.setSerialsLeft(97);
    metrics.setWaitingRows(3, 42.5);
    metrics.setRefusedRows(1);
    const std::string text = metrics.render(ExpositionFormat::PrometheusText);
    for (const char* line : {
             R"(velmora_station_units_finished_total{station="bench",port="1-1",result="passed"} 1)",
             R"(velmora_station_units_finished_total{station="bench",port="1-1",result="failed"} 1)",
             R"(velmora_station_units_finished_total{station="bench",port="1-2",result="passed"} 0)",
             R"(velmora_station_unit_failures_total{station="bench",port="1-1",phase="verify"} 1)",
             R"(velmora_station_unit_failures_total{station="bench",port="1-3",phase="none"} 1)",
             R"(velmora_station_units_in_progress{station="bench"} 1)",
             R"(velmora_station_phase_duration_seconds_bucket{station="bench",phase="erase",le="2.5"} 1)",
             R"(velmora_station_phase_duration_seconds_bucket{station="bench",phase="erase",le="40"} 1)",
             R"(velmora_station_phase_duration_seconds_bucket{station="bench",phase="erase",le="+Inf"} 2)",
             R"(velmora_station_phase_duration_seconds_bucket{station="bench",phase="open",le="0.025"} 1)",
             R"(velmora_station_phase_duration_seconds_sum{station="bench",phase="erase"} 62)",
             R"(velmora_station_phase_duration_seconds_sum{station="bench",phase="reset"} 0)",
             R"(velmora_station_serial_numbers_left{station="bench"} 97)",
             R"(velmora_history_rows_waiting{station="bench"} 3)",
             R"(velmora_history_oldest_waiting_row_age_seconds{station="bench"} 42.5)",
             R"(velmora_history_rows_refused{station="bench"} 1)",
             R"(velmora_station_taking_units{station="bench"} 1)",
             R"(velmora_build_info{station="bench",version="1.02"} 1)",
         })
        EXPECT_TRUE(hasLine(text, line)) << line << "\n" << text;
    EXPECT_EQ(text.find("NaN"), std::string::npos);
}

// Units finish on many threads while scrapes render: every count arrives, and a
// scrape always sees a consistent histogram.
TEST(StationMetricsThreadsTest, UpdatesAndScrapesRunTogether) {
    StationMetrics metrics("bench", "1.02");
    constexpr int kThreads = 4;
    constexpr int kUnits = 500;
    std::atomic<bool> done{false};
    std::thread scraper([&] {
        while (!done) {
            const MetricsSnapshot snapshot = metrics.snapshot();
            for (const FamilySnapshot& family : snapshot.families) {
                for (const Series& series : family.series) {
                    std::uint64_t total = 0;
                    for (const std::uint64_t count : series.histogram.bucketCounts) total += count;
                    EXPECT_EQ(total, series.histogram.count);
                }
            }
            (void)renderExposition(snapshot, ExpositionFormat::OpenMetrics);
        }
    });
    std::vector<std::thread> units;
    for (int thread = 0; thread < kThreads; ++thread) {
        units.emplace_back([&metrics, port = "1-" + std::to_string(thread)] {
            for (int unit = 0; unit < kUnits; ++unit) {
                metrics.unitStarted(port);
                metrics.phaseEnded("write", 1);
                metrics.unitFinished(port, UnitResult::Passed);
            }
        });
    }
    for (std::thread& thread : units) thread.join();
    done = true;
    scraper.join();

    const std::string text = metrics.render(ExpositionFormat::PrometheusText);
    EXPECT_TRUE(
        hasLine(text, R"(velmora_station_phase_duration_seconds_count{station="bench",phase="write"} 2000)"));
    EXPECT_TRUE(hasLine(text, R"(velmora_station_units_in_progress{station="bench"} 0)"));
    EXPECT_TRUE(hasLine(
        text, R"(velmora_station_units_finished_total{station="bench",port="1-3",result="passed"} 500)"));
}

}  // namespace
}  // namespace velmora::metrics
