// Debian's Prometheus scraping a station on two simulated hubs while its units
// run (on the wall clock, as a line's would), the counts read back through its
// query API; promtool checks the station's file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "tests/cli/CliFixture.h"
#include "tests/support/PrometheusServer.h"

namespace velmora::testing {
namespace {

class CliStationPrometheusTest : public CliFixture {};

TEST_F(CliStationPrometheusTest, PrometheusReadsAStationAsItsUnitsRun) {
    const std::string address = "127.0.0.1:" + std::to_string(freeLoopbackPort());
    const PrometheusServer prometheus({address});
    if (!prometheus.usable()) GTEST_SKIP() << prometheus.problem();
    // Prometheus has begun to scrape (and found nothing yet): the station's units then run under its scrapes.
    ASSERT_EQ(prometheus.waitForValue(R"(up{job="velmora"})", "0"), "0");
    const std::string figures = path("station.prom");
    const pid_t station = startCli({"--config", config(), "--simulate=two-hubs", "--station-name", "line-4",
                                    "station", kSampleImage, "--metrics", address, "--metrics-file", figures},
                                   {"VELMORA_SIMULATED_TIME=real"});
    ASSERT_GT(station, 0);

    EXPECT_EQ(prometheus.waitForValue(R"(velmora_station_taking_units{station="line-4"})", "1"), "1");
    EXPECT_EQ(prometheus.waitForValue(R"(sum(velmora_station_units_finished_total{result="passed"}))", "2"),
              "2");
    // Read while the station runs: Prometheus marks a target's series stale once it is gone.
    const struct {
        const char* query;
        const char* value;
    } cases[] = {
        {R"(velmora_station_units_finished_total{port="1-2",result="failed"})", "0"},
        {R"(velmora_station_phase_duration_seconds_count{phase="open"})", "2"},
        {R"(count(velmora_build_info{station="line-4"}))", "1"},
    };
    for (const auto& one : cases)
        EXPECT_EQ(prometheus.waitForValue(one.query, one.value), one.value) << one.query;
    ::kill(station, SIGINT);
    int status = 0;
    ::waitpid(station, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const std::string promtool = installedProgram("promtool");
    if (promtool.empty()) GTEST_SKIP() << notInstalled("promtool", "prometheus");
    const std::vector<char> bytes = read(figures);
    const ToolRun check = runTool(promtool, {"check", "metrics"}, std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(check.exitStatus, 0) << check.output;
}

}  // namespace
}  // namespace velmora::testing
