// A unit's time while the line's server stops answering: one station of the
// eight-hubs scenario in real time, put together as `velmora-cli --history
// postgresql://... station IMAGE --serial-prefix FZ --serial-digits 6` puts it
// (its serial numbers from the server), on a throw-away PostgreSQL server that
// is frozen with SIGSTOP (its connections still up) for FROZEN seconds (default
// 30) after the first 10 s. An operator swaps each finished unit for the next
// one. The units' times (from their rows: started to ended) are printed for the
// units that ran wholly before the freeze, those that overlapped it, and those
// after; the target is that the units in the freeze take the hub's own time (the
// units before it).
//
//     build/benchmarks/velmora_frozen_server [FROZEN] [BLOCK]
//
// BLOCK: the serial numbers the station reserves at a time (default the
// station's own default).
//
// Prints the figures; exits 0 when every unit passed and each has its row on the
// server once it answers again, 1 otherwise; 0 with a note where no PostgreSQL
// server can be started here.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/Console.h"
#include "app/IsoTime.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "environment/HubEnvironment.h"
#include "history/HistoryDatabase.h"
#include "production/Station.h"
#include "production/StationSerials.h"
#include "tests/support/HubRig.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SerialSettingsFor.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

constexpr auto kBeforeFreeze = std::chrono::seconds(10);
constexpr auto kAfterThaw = std::chrono::seconds(10);
constexpr auto kSwapTime = std::chrono::milliseconds(600);
const std::string kImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";

// The operator: takes each finished unit off its port and plugs the next one in.
class Operator {
public:
    explicit Operator(sim::SimulatedBus& bus) : bus_(bus) {}

    void unitShown(const std::string& line) {
        if (line.find(": PASS ") == std::string::npos && line.find(": FAIL ") == std::string::npos) return;
        std::lock_guard lock(mutex_);
        finished_.push_back(line.substr(0, line.find(' ')));
        failed_ += line.find(": FAIL ") != std::string::npos;
    }
    int failed() {
        std::lock_guard lock(mutex_);
        return failed_;
    }

    void run(const std::atomic<bool>& stop) {
        while (!stop) {
            std::deque<std::string> swapping;
            {
                std::lock_guard lock(mutex_);
                swapping.swap(finished_);
            }
            for (const std::string& port : swapping) bus_.unplug(port);
            std::this_thread::sleep_for(kSwapTime);
            for (const std::string& port : swapping) bus_.plugIn(port);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

private:
    sim::SimulatedBus& bus_;
    std::mutex mutex_;
    std::deque<std::string> finished_;
    int failed_ = 0;
};

// The units of one stretch of the run: the times of those that overlapped it,
// and how many started in it (a station waiting for serial numbers starts none).
struct Times {
    std::vector<double> seconds;
    long started = 0;
    void print(const char* name, double stretchSeconds) {
        std::sort(seconds.begin(), seconds.end());
        std::printf("%-18s %3zu units, median %.2f s, longest %.2f s; %ld started (%.1f a minute)\n", name,
                    seconds.size(), seconds.empty() ? 0.0 : seconds[seconds.size() / 2],
                    seconds.empty() ? 0.0 : seconds.back(), started, 60.0 * started / stretchSeconds);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const long frozen = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 30;
    const long block = argc > 2 ? std::strtol(argv[2], nullptr, 10) : static_cast<long>(kDefaultSerialBlock);
    if (frozen < 1 || frozen > 600 || block < 1 || block > 100000) {
        std::fprintf(stderr,
                     "usage: velmora_frozen_server [FROZEN seconds, 1 to 600] [BLOCK, 1 to 100000]\n");
        return 2;
    }
    testing::PostgresServer server;
    if (!server.usable()) {
        std::printf("skipped: %s\n", server.problem().c_str());
        return 0;
    }
    testing::ScratchFolder state("velmora-frozen");
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);

    EnvironmentOptions options;
    options.simulate = true;
    options.scenario = "eight-hubs";
    options.clock = ClockChoice::Real;
    options.historyPath = server.uri();
    options.stationName = "frozen-bench";
    options.keepBackups = false;
    options.onHistoryProblem = [](const std::string& line) { std::printf("told: %s\n", line.c_str()); };
    std::string error;
    std::unique_ptr<HubEnvironment> environment =
        HubEnvironment::prepare(std::move(options), std::make_unique<SilentConsole>(), error);
    AppConfig config;
    config.table.set(0, testing::kShippedHubIdentity.vid, testing::kShippedHubIdentity.sspid,
                     testing::kShippedHubIdentity.hspid);
    if (!environment || !environment->useConfig(std::move(config), error)) {
        std::fprintf(stderr, "velmora_frozen_server: %s\n", error.c_str());
        return 1;
    }
    ImageAdmission admission = environment->admitImage(kImage, ImageUse::Update);
    bool serverAway = false;
    std::unique_ptr<SerialNumberSource> source = environment->openSerialNumbers(error, serverAway);
    if (!admission.admitted() || !source) {
        std::fprintf(stderr, "velmora_frozen_server: %s%s\n", admission.reason.c_str(), error.c_str());
        return 1;
    }
    StationSerials serials(
        *source, testing::serialSettings("FZ", 6, 1, static_cast<std::uint64_t>(block), "frozen-bench"));
    if (!serials.begin(error)) {
        std::fprintf(stderr, "velmora_frozen_server: %s\n", error.c_str());
        return 1;
    }

    Operator line(environment->simulation()->bus());
    StationContext context{environment->clock(),
                           environment->platform(),
                           environment->config().table,
                           [&](const std::string& port) { return environment->connectionTo(port); },
                           [&](const std::string& text) { line.unitShown(text); },
                           environment->recorder(),
                           nullptr,
                           nullptr,
                           &serials};
    std::atomic<int> interrupts{0};
    std::atomic<bool> stop{false};
    const WallTime begun = wallNow();
    WallTime freezeAt{};
    WallTime thawAt{};
    WallTime stoppedAt{};
    {
        Station station(std::move(context), admission.image, kImage, {});
        std::thread operatorThread([&] { line.run(stop); });
        std::thread outage([&] {
            std::this_thread::sleep_for(kBeforeFreeze);
            freezeAt = wallNow();
            server.freeze();
            std::this_thread::sleep_for(std::chrono::seconds(frozen));
            server.thaw();
            thawAt = wallNow();
            std::this_thread::sleep_for(kAfterThaw);
            stoppedAt = wallNow();
            interrupts = 1;  // as the operator's Ctrl-C: no new units
        });
        station.run(interrupts);
        station.waitForUnits();
        outage.join();
        stop = true;
        operatorThread.join();
    }
    const bool ended = serials.end(error);
    const std::string file = state.path("velmora/history.sqlite");
    std::unique_ptr<history::HistoryDatabase> local = history::HistoryDatabase::open(file, error);
    const auto rows = local ? local->list({}, error) : std::nullopt;
    if (!rows) {
        std::fprintf(stderr, "velmora_frozen_server: %s\n", error.c_str());
        return 1;
    }
    Times before, during, after;
    std::set<std::string> serialsGiven;
    for (const history::HistoryRecord& row : *rows) {
        const auto started = parseIsoTime(row.started);
        const auto finished = parseIsoTime(row.ended);
        if (!started || !finished) continue;
        const double seconds = std::chrono::duration<double>(*finished - *started).count();
        (*finished <= freezeAt ? before : *started >= thawAt ? after : during).seconds.push_back(seconds);
        ++(*started < freezeAt ? before : *started < thawAt ? during : after).started;
        serialsGiven.insert(row.hubSerial);
    }
    // What still waits goes now, as `history sync` sends it.
    bool noServer = false;
    const bool synced = environment->syncHistory(noServer, error).has_value();
    environment.reset();
    const std::string onServer = server.query(
        "SELECT count(*) FILTER (WHERE result = 'success'), count(DISTINCT hub_serial) FROM velmora_runs;");
    std::printf("server frozen for %ld s, blocks of %ld numbers; %zu units, %d failed\n", frozen, block,
                rows->size(), line.failed());
    const auto span = [](WallTime from, WallTime to) {
        return std::chrono::duration<double>(to - from).count();
    };
    before.print("before the freeze:", span(begun, freezeAt));
    during.print("in the freeze:", span(freezeAt, thawAt));
    after.print("after it:", span(thawAt, stoppedAt));
    std::printf("distinct serials %zu; on the server (passed|distinct serials): %s", serialsGiven.size(),
                onServer.c_str());
    const bool good = ended && synced && line.failed() == 0 && serialsGiven.size() == rows->size() &&
                      onServer == std::to_string(rows->size()) + "|" + std::to_string(rows->size()) + "\n";
    if (!good) std::printf("FAILED %s\n", error.c_str());
    return good ? 0 : 1;
}
