// A station's unit time while its figures are scraped: one hub updated by a
// station again and again in virtual time (so what is measured is the
// processor's work, not the hub's waits), with no figures at all, with figures
// scraped over loopback once a second, and scraped without pause (far more
// often than any Prometheus would). The ratio to the first is the cost.
//
//     build/benchmarks/velmora_benchmarks --benchmark_filter=StationUnit
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "environment/StationMonitor.h"
#include "firmware/FirmwareBuffer.h"
#include "production/Station.h"
#include "tests/support/HttpProbe.h"
#include "tests/support/HubRig.h"

namespace {

using namespace velmora;

// Scrapes the endpoint on port until stopped: once a second, or without pause.
class Scraper {
public:
    Scraper(std::uint16_t port, bool withoutPause)
        : thread_([this, port, withoutPause] {
              while (!done_) {
                  benchmark::DoNotOptimize(testing::askHttp(port, testing::getRequest("/metrics")).size());
                  ++scrapes_;
                  for (int wait = 0; !withoutPause && wait < 100 && !done_; ++wait)
                      std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          }) {}
    ~Scraper() {
        done_ = true;
        thread_.join();
    }
    int scrapes() const { return scrapes_; }

private:
    std::atomic<bool> done_{false};
    std::atomic<int> scrapes_{0};
    std::thread thread_;
};

// Arg 0: no figures; 1: scraped once a second; 2: scraped without pause.
void BM_StationUnitWhileScraped(benchmark::State& state) {
    testing::HubRig rig;
    rig.addHub();
    FirmwareBuffer image;
    const std::vector<std::uint8_t> bytes = rig.sampleImage(8192, 0x0203);
    FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    std::unique_ptr<StationMonitor> monitor;
    std::unique_ptr<Scraper> scraper;
    if (state.range(0) != 0) {
        std::string error;
        monitor = StationMonitor::start({"127.0.0.1:0", std::nullopt}, "bench", {}, {}, error);
        if (!monitor) {
            state.SkipWithError(error.c_str());
            return;
        }
        const std::string address = monitor->addresses().front();
        scraper = std::make_unique<Scraper>(
            static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1))),
            state.range(0) == 2);
    }
    int passed = 0;
    for (auto _ : state) {
        StationContext context{
            rig.clock, rig.platform, rig.table,
            [&rig](const std::string& port) {
                return std::make_unique<HubConnection>(rig.platform, rig.table, rig.clock, port);
            },
            [&passed](const std::string& line) { passed += line.find(": PASS ") != std::string::npos; }};
        context.watch = monitor.get();
        // A station of its own each time: the hub that stays plugged in is a new unit to it.
        Station station(std::move(context), image, "/images/new.bin", StationSettings{1, std::nullopt});
        const std::atomic<int> interrupts{0};
        station.run(interrupts);
        station.waitForUnits();
    }
    state.counters["passed"] = passed;
    if (scraper) state.counters["scrapes"] = scraper->scrapes();
}
BENCHMARK(BM_StationUnitWhileScraped)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

}  // namespace
