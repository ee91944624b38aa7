#include <gtest/gtest.h>

#include "metrics/Exposition.h"
#include "metrics/MetricsRegistry.h"

namespace velmora::metrics {
namespace {

// One family of each type, two buckets, and label values from outside.
MetricsSnapshot sampleSnapshot(const std::string& station) {
    MetricsRegistry registry(
        {
            {"t_units", "Units.", MetricType::Counter, "", {"port"}, {}},
            {"t_age_seconds", "Age, \"oldest\"\\first\nline two.", MetricType::Gauge, "seconds", {}, {}},
            {"t_phase_seconds", "Phases.", MetricType::Histogram, "seconds", {"phase"}, {0.5, 2}},
            {"t_unused", "Never touched.", MetricType::Gauge, "", {}, {}},
            {"t_build", "Version.", MetricType::Info, "", {"version"}, {}},
        },
        {{"station", station}});
    registry.add(0, {"1-2"});
    registry.add(0, {"1-2"}, 2);
    registry.set(1, {}, 1.5);
    registry.observe(2, {"erase"}, 0.5);
    registry.observe(2, {"erase"}, 1);
    registry.observe(2, {"erase"}, 30);
    registry.set(4, {"1.02"}, 1);
    return registry.snapshot();
}

TEST(ExpositionTest, RendersThePrometheusTextFormat) {
    EXPECT_EQ(renderExposition(sampleSnapshot("s"), ExpositionFormat::PrometheusText),
              "# HELP t_units_total Units.\n"
              "# TYPE t_units_total counter\n"
              "t_units_total{station=\"s\",port=\"1-2\"} 3\n"
              "# HELP t_age_seconds Age, \"oldest\"\\\\first\\nline two.\n"
              "# TYPE t_age_seconds gauge\n"
              "t_age_seconds{station=\"s\"} 1.5\n"
              "# HELP t_phase_seconds Phases.\n"
              "# TYPE t_phase_seconds histogram\n"
              "t_phase_seconds_bucket{station=\"s\",phase=\"erase\",le=\"0.5\"} 1\n"
              "t_phase_seconds_bucket{station=\"s\",phase=\"erase\",le=\"2\"} 2\n"
              "t_phase_seconds_bucket{station=\"s\",phase=\"erase\",le=\"+Inf\"} 3\n"
              "t_phase_seconds_sum{station=\"s\",phase=\"erase\"} 31.5\n"
              "t_phase_seconds_count{station=\"s\",phase=\"erase\"} 3\n"
              "# HELP t_build_info Version.\n"
              "# TYPE t_build_info gauge\n"
              "t_build_info{station=\"s\",version=\"1.02\"} 1\n");
}

TEST(ExpositionTest, RendersOpenMetrics) {
    EXPECT_EQ(renderExposition(sampleSnapshot("s"), ExpositionFormat::OpenMetrics),
              "# TYPE t_units counter\n"
              "# HELP t_units Units.\n"
              "t_units_total{station=\"s\",port=\"1-2\"} 3\n"
              "# TYPE t_age_seconds gauge\n"
              "# UNIT t_age_seconds seconds\n"
              "# HELP t_age_seconds Age, \\\"oldest\\\"\\\\first\\nline two.\n"
              "t_age_seconds{station=\"s\"} 1.5\n"
              "# TYPE t_phase_seconds histogram\n"
              "# UNIT t_phase_seconds seconds\n"
              "# HELP t_phase_seconds Phases.\n"
              "t_phase_seconds_bucket{station=\"s\",phase=\"erase\",le=\"0.5\"} 1\n"
              "t_phase_seconds_bucket{station=\"s\",phase=\"erase\",le=\"2.0\"} 2\n"
              "t_phase_seconds_bucket{station=\"s\",phase=\"erase\",le=\"+Inf\"} 3\n"
              "t_phase_seconds_sum{station=\"s\",phase=\"erase\"} 31.5\n"
              "t_phase_seconds_count{station=\"s\",phase=\"erase\"} 3\n"
              "# TYPE t_build info\n"
              "# HELP t_build Version.\n"
              "t_build_info{station=\"s\",version=\"1.02\"} 1\n"
              "# EOF\n");
}

TEST(ExpositionTest, EscapesLabelValuesFromOutside) {
    const struct {
        std::string station;
        std::string rendered;
    } cases[] = {
        {"a\"b", "a\\\"b"},
        {"back\\slash", "back\\\\slash"},
        {"two\nlines", "two\\nlines"},
        {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
        {"caf\xC3\xA9 }{,=", "caf\xC3\xA9 }{,="},
    };
    for (const auto& one : cases) {
        for (const ExpositionFormat format :
             {ExpositionFormat::PrometheusText, ExpositionFormat::OpenMetrics}) {
            const std::string text = renderExposition(sampleSnapshot(one.station), format);
            EXPECT_NE(text.find("t_units_total{station=\"" + one.rendered + "\",port=\"1-2\"} 3\n"),
                      std::string::npos)
                << one.station << "\n"
                << text;
        }
    }
}

TEST(ExpositionTest, NegotiatesTheFormatFromAccept) {
    const struct {
        const char* accept;
        ExpositionFormat format;
    } cases[] = {
        {"", ExpositionFormat::PrometheusText},
        {"*/*", ExpositionFormat::PrometheusText},
        {"text/plain;version=0.0.4", ExpositionFormat::PrometheusText},
        // What Prometheus sends.
        {"application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,"
         "text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
         ExpositionFormat::OpenMetrics},
        {"Application/OpenMetrics-Text; Version=\"1.0.0\"", ExpositionFormat::OpenMetrics},
        {"application/openmetrics-text", ExpositionFormat::OpenMetrics},
        {"application/openmetrics-text;version=0.0.1", ExpositionFormat::PrometheusText},
        {"application/openmetrics-text;q=0", ExpositionFormat::PrometheusText},
        {"application/openmetrics-text;q=0.3, text/plain;q=0.9", ExpositionFormat::PrometheusText},
        {"application/openmetrics-text;q=bad", ExpositionFormat::PrometheusText},
        {"application/json", ExpositionFormat::PrometheusText},
        {",;;=,q=,;", ExpositionFormat::PrometheusText},
    };
    for (const auto& one : cases) EXPECT_EQ(formatForAccept(one.accept), one.format) << one.accept;
}

}  // namespace
}  // namespace velmora::metrics
