// What a scrape of a busy station costs: 64 ports, each with passed units and a
// failure in every phase (the most series a station has), rendered in either
// format, and a whole scrape over HTTP on loopback. And what a unit's updates of
// the figures cost while a scraper renders without pause.
//
//     build/benchmarks/velmora_benchmarks --benchmark_filter=Metrics
#include <benchmark/benchmark.h>

#include <atomic>
#include <string>
#include <thread>

#include "metrics/MetricsServer.h"
#include "metrics/StationMetrics.h"
#include "tests/support/HttpProbe.h"

namespace {

using namespace velmora;
using metrics::ExpositionFormat;

constexpr int kPorts = 64;
constexpr const char* kPhases[] = {"open", "backup", "erase", "write", "read", "verify", "reset"};

std::string portName(int index) {
    return std::to_string(1 + index / 16) + "-" + std::to_string(1 + index % 16 / 4) + "." +
           std::to_string(1 + index % 4);
}

void runUnit(metrics::StationMetrics& figures, const std::string& port, const char* failingPhase) {
    figures.unitStarted(port);
    double seconds = 0.03;
    for (const char* phase : kPhases) {
        figures.phaseEnded(phase, seconds);
        seconds *= 2.5;
        if (phase == failingPhase) {
            figures.unitFinished(port, metrics::UnitResult::Failed, phase);
            return;
        }
    }
    figures.unitFinished(port, metrics::UnitResult::Passed);
}

// A station after a shift on 64 ports.
void fillBusyStation(metrics::StationMetrics& figures) {
    for (int index = 0; index < kPorts; ++index) {
        const std::string port = portName(index);
        for (int unit = 0; unit < 20; ++unit) runUnit(figures, port, nullptr);
        for (const char* phase : kPhases) runUnit(figures, port, phase);
    }
    figures.setTakingUnits(true);
    figures.setSerialsLeft(4000);
    figures.setWaitingRows(12, 40);
    figures.setRefusedRows(1);
}

// Arg 0: the text format; 1: OpenMetrics.
void BM_MetricsRender64Ports(benchmark::State& state) {
    metrics::StationMetrics figures("line-7", "1.02");
    fillBusyStation(figures);
    const auto format =
        state.range(0) == 0 ? ExpositionFormat::PrometheusText : ExpositionFormat::OpenMetrics;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = figures.render(format);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MetricsRender64Ports)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A scrape as Prometheus makes it: connect, ask, read the whole answer.
void BM_MetricsHttpScrape64Ports(benchmark::State& state) {
    metrics::StationMetrics figures("line-7", "1.02");
    fillBusyStation(figures);
    std::string error;
    const auto server = metrics::MetricsServer::start(
        "127.0.0.1:0", [&figures](ExpositionFormat format) { return figures.render(format); }, error);
    if (!server) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string request =
        testing::getRequest("/metrics", "Accept: application/openmetrics-text;version=1.0.0\r\n");
    for (auto _ : state) benchmark::DoNotOptimize(testing::askHttp(server->port(), request).size());
}
BENCHMARK(BM_MetricsHttpScrape64Ports)->Unit(benchmark::kMillisecond)->UseRealTime();

// One unit's updates (started, seven phases, finished), with a scraper rendering
// the whole station without pause (far more often than Prometheus ever would).
void BM_MetricsUnitUpdatesWhileScraped(benchmark::State& state) {
    metrics::StationMetrics figures("line-7", "1.02");
    fillBusyStation(figures);
    std::atomic<bool> done{false};
    std::thread scraper;
    if (state.range(0) != 0) {
        scraper = std::thread([&] {
            while (!done) benchmark::DoNotOptimize(figures.render(ExpositionFormat::OpenMetrics).size());
        });
    }
    for (auto _ : state) runUnit(figures, "1-1.1", nullptr);
    done = true;
    if (scraper.joinable()) scraper.join();
}
BENCHMARK(BM_MetricsUnitUpdatesWhileScraped)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
