// A station on simulated hubs in virtual time, fed to its figures, scraped over
// loopback while units run and after: the counts, outcomes and phases match the
// lines the station printed, the file holds the same text, clients that hang or
// flood the endpoint do not hold a unit up, and the rows waiting for the line's
// server follow their count.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "environment/StationMonitor.h"
#include "firmware/FirmwareBuffer.h"
#include "production/Station.h"
#include "tests/support/HttpProbe.h"
#include "tests/support/HubRig.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

// The value of one series in a scrape ("name{labels}"), or -1 when it is missing.
double sample(const std::string& text, const std::string& series) {
    const std::string start = series + " ";
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        if (line.starts_with(start)) return std::stod(line.substr(start.size()));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return -1;
}

std::string series(const std::string& name, const std::string& labels = {}) {
    return name + "{station=\"bench\"" + (labels.empty() ? "" : "," + labels) + "}";
}

std::string finished(const std::string& port, const char* result) {
    return series("velmora_station_units_finished_total", "port=\"" + port + "\",result=\"" + result + "\"");
}

// A station fed to a monitor that serves on a free loopback port and writes a file.
class MonitoredStation {
public:
    explicit MonitoredStation(int hubs, WaitingRowsCount waiting = {}) {
        const std::vector<std::uint8_t> bytes = rig_.sampleImage(8192, 0x0203);
        FW_Parse(image_, bytes.data(), static_cast<std::int64_t>(bytes.size()));
        for (int index = 1; index <= hubs; ++index) {
            RigHubOptions options;
            options.portPath = "1-" + std::to_string(index);
            rig_.addHub(options);
        }
        std::string error;
        monitor = StationMonitor::start({"127.0.0.1:0", file}, "bench", std::move(waiting), {}, error);
        EXPECT_NE(monitor, nullptr) << error;
        if (monitor) {
            const std::string address = monitor->addresses().front();
            port = static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
        }
    }

    // Runs the station until units verdict lines are out, then stops it as the
    // first Ctrl-C does. during: on the operator's thread after the first verdict.
    void run(StationSettings settings, int units, const std::function<void()>& during = {}) {
        StationContext context{rig_.clock, platform_, rig_.table,
                               [this](const std::string& at) {
                                   return std::make_unique<HubConnection>(platform_, rig_.table, rig_.clock,
                                                                          at);
                               },
                               [this](const std::string& line) {
                                   std::lock_guard lock(mutex_);
                                   lines_.push_back(line);
                               }};
        context.watch = monitor.get();
        Station station(std::move(context), image_, "/images/new.bin", std::move(settings));
        rig_.clock.addWorkers(1);
        std::thread operatorThread([&] {
            rig_.clock.enterWorker();
            // The operator starts once the station is on the clock (its first line
            // comes after that): alone on it, its looks would move time on unchecked.
            while (lineCount() == 0) std::this_thread::yield();
            waitForVerdicts(1);
            if (during) during();
            waitForVerdicts(units);
            interrupts_ = 1;
            rig_.clock.leaveWorker();
        });
        station.run(interrupts_);
        station.waitForUnits();
        operatorThread.join();
    }

    std::string scrape() const { return bodyOf(askHttp(port, getRequest("/metrics"))); }
    int verdicts(const std::string& start = {}) {
        std::lock_guard lock(mutex_);
        int count = 0;
        for (const std::string& line : lines_)
            count += line.starts_with(start) &&
                     (line.find(": PASS ") != std::string::npos || line.find(": FAIL ") != std::string::npos);
        return count;
    }
    std::size_t lineCount() {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }
    // The seconds the verdict lines gave, together.
    double printedSeconds() {
        std::lock_guard lock(mutex_);
        double total = 0;
        for (const std::string& line : lines_) {
            double seconds = 0;
            const std::size_t open = line.rfind(" (");
            if (open != std::string::npos && std::sscanf(line.c_str() + open, " (%lf s)", &seconds) == 1)
                total += seconds;
        }
        return total;
    }
    std::string fileText() const {
        std::ifstream stream(file);
        std::stringstream text;
        text << stream.rdbuf();
        return text.str();
    }

    HubRig rig_;
    ScratchFolder scratch{"velmora-station-metrics"};
    std::string file = (scratch.path() / "station.prom").string();
    std::unique_ptr<StationMonitor> monitor;
    std::uint16_t port = 0;

private:
    void waitForVerdicts(int count) {
        for (int look = 0; look < 2000 && verdicts() < count; ++look)
            rig_.clock.sleepFor(kStationLookInterval);
    }

    sim::SimulatedUsbPlatform& platform_ = rig_.platform;
    FirmwareBuffer image_;
    std::atomic<int> interrupts_{0};
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST(StationMonitorTest, TheFiguresMatchWhatTheStationPrinted) {
    const struct {
        const char* name;
        int hubs;
        StationSettings settings;
        const char* failingPort;  // its first program request stalls
        const char* failedPhase;  // for every failed unit
    } cases[] = {
        {"a stalled write", 3, {}, "1-2", "write"},
        {"another version than expected", 2, {std::nullopt, std::uint16_t{0x0999}}, "", "version"},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name);
        MonitoredStation station(one.hubs);
        ASSERT_NE(station.monitor, nullptr);
        if (*one.failingPort != '\0')
            SimulatedHubs::failNext(*station.rig_.bus.hubAt(one.failingPort), sim::RequestKind::WriteFlash,
                                    1);
        std::string during;
        int verdictsBefore = 0;
        station.run(one.settings, one.hubs, [&] {
            verdictsBefore = station.verdicts();
            during = station.scrape();
        });
        const std::string after = station.scrape();

        EXPECT_EQ(sample(during, series("velmora_station_taking_units")), 1) << during;
        double finishedDuring = 0;
        for (int index = 1; index <= one.hubs; ++index) {
            const std::string port = "1-" + std::to_string(index);
            finishedDuring +=
                sample(during, finished(port, "passed")) + sample(during, finished(port, "failed"));
            const int passed = station.verdicts(port + ": PASS");
            const int failed = station.verdicts(port + ": FAIL");
            EXPECT_EQ(passed + failed, 1) << port;
            EXPECT_EQ(sample(after, finished(port, "passed")), passed) << port;
            EXPECT_EQ(sample(after, finished(port, "failed")), failed) << port;
            const std::string failures = series("velmora_station_unit_failures_total",
                                                "port=\"" + port + "\",phase=\"" + one.failedPhase + "\"");
            EXPECT_EQ(sample(after, failures), failed == 1 ? 1 : -1) << port;
        }
        EXPECT_GE(finishedDuring, verdictsBefore);
        EXPECT_EQ(sample(after, series("velmora_station_units_in_progress")), 0);
        EXPECT_EQ(sample(after, series("velmora_station_taking_units")), 0);
        // Every unit opened its hub; the phases' time lies within what the lines said.
        EXPECT_EQ(sample(after, series("velmora_station_phase_duration_seconds_count", "phase=\"open\"")),
                  one.hubs);
        double phaseSeconds = 0;
        for (const char* phase : {"open", "backup", "erase", "write", "read", "verify", "reset"})
            phaseSeconds += std::max(0.0, sample(after, series("velmora_station_phase_duration_seconds_sum",
                                                               std::string("phase=\"") + phase + "\"")));
        EXPECT_GT(phaseSeconds, 0);
        EXPECT_LE(phaseSeconds, station.printedSeconds() + 0.05 * one.hubs);

        station.monitor->flushFile();
        EXPECT_EQ(station.fileText(),
                  station.monitor->figures().render(metrics::ExpositionFormat::PrometheusText));
        EXPECT_EQ(sample(station.fileText(), finished("1-1", "passed")),
                  sample(after, finished("1-1", "passed")));
    }
}

// Clients that connect and never ask, and one that sends a request without end,
// take the endpoint's every place while the units run: the units still finish,
// and once the clients are gone a scrape is answered again.
TEST(StationMonitorTest, ClientsThatHangOrFloodDoNotHoldUpAUnit) {
    MonitoredStation station(4);
    ASSERT_NE(station.monitor, nullptr);
    std::vector<int> hanging;
    for (int index = 0; index < 40; ++index) hanging.push_back(connectLoopback(station.port));
    const int flooding = connectLoopback(station.port);
    std::thread flood([&] { sendAll(flooding, "GET /" + std::string(1 << 22, 'a')); });

    station.run({4, std::nullopt}, 4);
    EXPECT_EQ(station.verdicts(), 4);
    EXPECT_EQ(station.verdicts("1-"), station.verdicts());

    for (const int connection : hanging) ::close(connection);
    ::shutdown(flooding, SHUT_RDWR);
    flood.join();
    ::close(flooding);
    std::string answer;
    for (int attempt = 0; attempt < 100 && sample(answer, finished("1-4", "passed")) != 1; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        answer = station.scrape();
    }
    EXPECT_EQ(sample(answer, finished("1-4", "passed")), 1) << answer;
}

// The waiting rows are counted at each unit's end: they rise while the server is
// away and fall once it takes them. Without a server there is no such figure.
TEST(StationMonitorTest, TheRowsWaitingForTheServerFollowTheirCount) {
    std::atomic<std::uint64_t> waiting{0};
    MonitoredStation station(0, [&]() -> std::optional<history::WaitingRows> {
        return history::WaitingRows{waiting.load(), waiting.load() == 0 ? "" : "2026-01-01T00:00:00.000Z"};
    });
    ASSERT_NE(station.monitor, nullptr);
    const auto waitFor = [&](double rows) {
        std::string text;
        for (int attempt = 0; attempt < 200; ++attempt) {
            text = station.scrape();
            if (sample(text, series("velmora_history_rows_waiting")) == rows) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return text;
    };
    for (const std::uint64_t rows : {1u, 2u, 0u}) {
        waiting = rows;
        station.monitor->unitFinished("1-1", true, "");
        const std::string text = waitFor(static_cast<double>(rows));
        EXPECT_EQ(sample(text, series("velmora_history_rows_waiting")), static_cast<double>(rows)) << text;
        const double age = sample(text, series("velmora_history_oldest_waiting_row_age_seconds"));
        EXPECT_TRUE(rows == 0 ? age == 0 : age > 3600) << age;
        EXPECT_EQ(sample(text, series("velmora_history_rows_refused")), 0);
    }
    MonitoredStation withoutServer(0);
    EXPECT_EQ(sample(withoutServer.scrape(), series("velmora_history_rows_waiting")), -1);
}

}  // namespace
}  // namespace velmora::testing
