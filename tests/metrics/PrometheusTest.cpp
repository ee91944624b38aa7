#include <gtest/gtest.h>

#include <atomic>

#include "metrics/MetricsServer.h"
#include "metrics/StationMetrics.h"
#include "tests/metrics/StandInStation.h"
#include "tests/support/PrometheusServer.h"

namespace velmora::metrics {
namespace {

// Debian's Prometheus scrapes the endpoint (asking for OpenMetrics) while units
// run, and its query API gives the counts back as they grow.
TEST(PrometheusTest, ReadsTheStationsFiguresAsUnitsRun) {
    StationMetrics figures(R"(line "7" \ bench)", "1.02");
    std::atomic<int> openMetricsScrapes{0};
    std::string error;
    const auto endpoint = MetricsServer::start(
        "127.0.0.1:0",
        [&](ExpositionFormat format) {
            openMetricsScrapes += format == ExpositionFormat::OpenMetrics;
            return figures.render(format);
        },
        error);
    ASSERT_NE(endpoint, nullptr) << error;
    const testing::PrometheusServer prometheus({endpoint->addresses().front()});
    if (!prometheus.usable()) GTEST_SKIP() << prometheus.problem();

    figures.setTakingUnits(true);
    figures.setWaitingRows(4, 12);  // the line's server is away
    testing::runStandInUnits(figures, {"1-1", "1-2", "1-3"}, "1-2");
    EXPECT_EQ(prometheus.waitForValue(R"(sum(velmora_station_units_finished_total{result="passed"}))", "2"),
              "2");
    EXPECT_EQ(prometheus.query(R"(velmora_station_units_finished_total{port="1-2",result="failed"})"), "1");
    EXPECT_EQ(prometheus.query("velmora_history_rows_waiting"), "4");

    figures.setWaitingRows(0, 0);  // and back
    testing::runStandInUnits(figures, {"1-1"});
    EXPECT_EQ(
        prometheus.waitForValue(R"(velmora_station_units_finished_total{port="1-1",result="passed"})", "2"),
        "2");
    const struct {
        const char* query;
        const char* value;
    } cases[] = {
        {"velmora_history_rows_waiting", "0"},
        {R"(velmora_station_unit_failures_total{port="1-2",phase="verify"})", "1"},
        {R"(velmora_station_phase_duration_seconds_count{phase="erase"})", "4"},
        {R"(velmora_station_phase_duration_seconds_bucket{phase="reset",le="20.0"})", "3"},
        {R"(velmora_station_units_in_progress)", "0"},
        {R"(velmora_build_info{station="line \"7\" \\ bench",version="1.02"})", "1"},
        {R"(up{job="velmora"})", "1"},
    };
    for (const auto& one : cases) EXPECT_EQ(prometheus.query(one.query), one.value) << one.query;
    EXPECT_GT(openMetricsScrapes.load(), 0);
}

}  // namespace
}  // namespace velmora::metrics
