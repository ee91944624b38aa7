#include <gtest/gtest.h>

#include "metrics/MetricsFile.h"
#include "metrics/StationMetrics.h"
#include "tests/metrics/StandInStation.h"
#include "tests/support/HttpProbe.h"
#include "tests/support/PrometheusServer.h"

namespace velmora::metrics {
namespace {

// Every figure the station has, under a name from outside.
void tellEveryFigure(StationMetrics& figures) {
    figures.setTakingUnits(true);
    testing::runStandInUnits(figures, {"1-1", "1-2", "2-1.4"}, "1-2");
    figures.unitStarted("1-1");
    figures.setSerialsLeft(120);
    figures.setWaitingRows(2, 31.5);
    figures.setRefusedRows(1);
}

constexpr const char* kStationName = "line \"7\"\\bench\n\xFF";

// promtool reads the text format only; OpenMetrics is read by Prometheus itself
// in the server's test.
TEST(ExporterToolsTest, PromtoolAcceptsTheExposition) {
    const std::string promtool = testing::installedProgram("promtool");
    if (promtool.empty()) GTEST_SKIP() << testing::notInstalled("promtool", "prometheus");
    StationMetrics figures(kStationName, "1.02");
    tellEveryFigure(figures);
    const testing::ToolRun check =
        testing::runTool(promtool, {"check", "metrics"}, figures.render(ExpositionFormat::PrometheusText));
    EXPECT_EQ(check.exitStatus, 0) << check.output;
    EXPECT_EQ(check.output, "");
}

TEST(ExporterToolsTest, NodeExporterReadsTheFile) {
    const std::string exporter = testing::installedProgram("prometheus-node-exporter");
    if (exporter.empty())
        GTEST_SKIP() << testing::notInstalled("prometheus-node-exporter", "prometheus-node-exporter");
    const testing::ScratchFolder scratch;
    StationMetrics figures(kStationName, "1.02");
    tellEveryFigure(figures);
    {
        MetricsFile file(scratch.path("station.prom"),
                         [&figures](ExpositionFormat format) { return figures.render(format); }, {});
        file.update();
    }
    const std::uint16_t port = testing::freeLoopbackPort();
    const testing::BackgroundProgram running(
        exporter,
        {"--web.listen-address=127.0.0.1:" + std::to_string(port), "--collector.disable-defaults",
         "--collector.textfile", "--collector.textfile.directory=" + scratch.path().string()},
        scratch.path("log"));
    const std::string scraped = testing::waitForHttp(port, "/metrics");
    // Labels come back in name order, the station's name escaped, its bad byte replaced.
    const std::string station = R"(station="line \"7\"\\bench\n)"
                                "\xEF\xBF\xBD\"";
    for (const std::string& line : {
             std::string("node_textfile_scrape_error 0"),
             "velmora_station_units_finished_total{port=\"1-2\",result=\"failed\"," + station + "} 1",
             "velmora_station_phase_duration_seconds_count{phase=\"erase\"," + station + "} 3",
             "velmora_history_rows_waiting{" + station + "} 2",
         })
        EXPECT_NE(scraped.find("\n" + line + "\n"), std::string::npos) << line << "\n" << scraped;
}

}  // namespace
}  // namespace velmora::metrics
