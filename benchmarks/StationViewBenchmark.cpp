// The station view against the command line's station on the same 64 simulated
// hubs (sixty-four-hubs, a real hub's flash timing, in real time): each unit's
// time as the station measures it, in the view and in `velmora-cli station`,
// and their ratio (target at most 1.05); while the view runs, how long its GUI
// thread is kept from its events (a 1 ms heartbeat: the longest and the median
// gap beyond its period, and the GUI thread's own CPU time within each gap,
// which a loaded machine's other work does not lengthen; target: never over
// 16 ms) and the most redraws any one tile had within one second (at most 10).
// Run by hand: velmora_station_view_benchmark [ROUNDS]   (offscreen when no display is set)
#include <time.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <numeric>
#include <regex>
#include <string>
#include <vector>

#include "app/Console.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/ScratchFolder.h"
#include "window/AppDelegate.h"
#include "window/Launch.h"
#include "window/StationView.h"
#include "window/WindowEnvironment.h"
#include "window/WindowSession.h"

namespace {

using namespace velmora;
using namespace velmora::window;

constexpr int kHeartbeatMs = 1;
constexpr int kHubs = 64;

class NoDialogs final : public WindowDialogs {
public:
    std::optional<QString> chooseOpenFile(QWidget*) override { return std::nullopt; }
    std::optional<QString> chooseSavePath(QWidget*) override { return std::nullopt; }
    void alert(QWidget*, const QString& text) override {
        std::fprintf(stderr, "alert: %s\n", qPrintable(text));
    }
    driver::RestartAnswer askRestart(QWidget*, const QString&) override {
        return driver::RestartAnswer::Cancel;
    }
    CloseAnswer askCloseDuringFlash(QWidget*) override { return CloseAnswer::KeepOpen; }
};

class NoRunner final : public driver::PrivilegedRunner, public driver::ShellRunner {
public:
    driver::ScriptResult run(const std::string&, const std::vector<std::string>&) override { return {}; }
    void run(const std::string&) override {}
};

// Units' seconds from the station's lines ("PORT: PASS 0102 -> 0102 (4.1 s)").
std::vector<double> unitSeconds(const std::string& out) {
    std::vector<double> seconds;
    const std::regex passed(": PASS [^ ]+ -> [^ ]+ \\(([0-9.]+) s\\)");
    for (auto match = std::sregex_iterator(out.begin(), out.end(), passed); match != std::sregex_iterator();
         ++match)
        seconds.push_back(std::stod((*match)[1]));
    return seconds;
}

double mean(const std::vector<double>& values) {
    return values.empty()
               ? 0
               : std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The CPU time the calling thread has used.
double threadCpuMs() {
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) * 1e3 + static_cast<double>(used.tv_nsec) / 1e6;
}

struct ViewRound {
    std::vector<double> unitSeconds;
    std::vector<double> stallsMs;  // each heartbeat gap beyond its period
    std::vector<double>
        busyMs;  // the GUI thread's own CPU time within each gap (the machine's share left out)
    std::vector<double> deliveriesMs;  // each hand-over of the units' reports, on the GUI thread
    int mostRedrawsInASecond = 0;
};

// folder: private to this user, as a history's folder must be.
ViewRound runView(const std::string& resources, const std::filesystem::path& folder) {
    NoDialogs dialogs;
    NoRunner runner;
    WindowEnvironment environment(dialogs, runner, runner);
    environment.logPath = (std::filesystem::temp_directory_path() / "velmora-station-view.log").string();
    environment.quit = [](int) {};
    std::filesystem::create_directories(folder);
    // Recording into a history as the command line's station does.
    auto session = WindowSession::createSimulated(
        {resources + "/config.ini", resources, ""}, "sixty-four-hubs", std::make_unique<SilentConsole>(),
        WindowSession::Time::Real, std::nullopt, {}, (folder / "view-history.sqlite").string());
    StationRequest request;
    request.imagePath = resources + "/images/sample-update.bin";
    request.settings.count = kHubs;
    request.stationName = "view-benchmark";
    std::string error;
    std::unique_ptr<AppDelegate> window = launchVelmora(*session, environment, &error, request);
    if (!window) {
        std::fprintf(stderr, "the station did not start: %s\n", error.c_str());
        std::exit(1);
    }
    ViewRound round;
    StationView& view = *window->stationView();
    std::map<std::string, std::deque<qint64>> redraws;  // per tile, the redraws of the last second
    QElapsedTimer clock;
    clock.start();
    view.tileRedrawn = [&](const std::string& port) {
        std::deque<qint64>& times = redraws[port];
        times.push_back(clock.elapsed());
        while (times.front() <= times.back() - 1000) times.pop_front();
        round.mostRedrawsInASecond = std::max(round.mostRedrawsInASecond, static_cast<int>(times.size()));
    };
    view.deliveryTook = [&round](qint64 nanoseconds) {
        round.deliveriesMs.push_back(static_cast<double>(nanoseconds) / 1e6);
    };
    window->resize(1920, 1040);  // an operator's full-HD screen, as the screenshots
    window->show();
    qint64 last = clock.nsecsElapsed();
    double lastCpu = threadCpuMs();
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double cpu = threadCpuMs();
        round.stallsMs.push_back(std::max(0.0, static_cast<double>(now - last) / 1e6 - kHeartbeatMs));
        round.busyMs.push_back(std::max(0.0, cpu - lastCpu - kHeartbeatMs));
        last = now;
        lastCpu = cpu;
    });
    heartbeat.start(kHeartbeatMs);
    while (view.running() || window->workers().running() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    heartbeat.stop();
    // The station's last lines are still on their way to the log.
    for (int pass = 0; pass < 10; ++pass) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    // The units' own times, as the station measured them (the same clock as the command line's lines).
    const std::string log = view.findChild<QPlainTextEdit*>("stationLog")->toPlainText().toStdString();
    round.unitSeconds = unitSeconds(log);
    window->shutDown();
    return round;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string resources = VELMORA_TEST_RESOURCES;
    const testing::ScratchFolder folder("velmora-station-view");
    std::vector<double> ratios;
    std::vector<double> worstStalls;
    std::vector<double> medianStalls;
    std::vector<double> worstBusy;
    std::vector<double> medianBusy;
    int mostRedraws = 0;
    for (int round = 1; round <= rounds; ++round) {
        const testing::CliRun cli =
            testing::runCli({"--config", resources + "/config.ini", "--simulate=sixty-four-hubs", "--history",
                             (folder.path() / ("cli-history-" + std::to_string(round) + ".sqlite")).string(),
                             "--station-name", "cli-benchmark", "station",
                             resources + "/images/sample-update.bin", "--count", std::to_string(kHubs)},
                            {"VELMORA_SIMULATED_TIME=real"});
        const std::vector<double> cliUnits = unitSeconds(cli.out);
        const ViewRound view = runView(resources, folder.path() / ("view-" + std::to_string(round)));
        if (cliUnits.size() != kHubs || view.unitSeconds.size() != kHubs) {
            std::fprintf(stderr, "round %d: %zu units passed on the command line, %zu in the view\n%s", round,
                         cliUnits.size(), view.unitSeconds.size(), cli.err.c_str());
            return 1;
        }
        const double ratio = mean(view.unitSeconds) / mean(cliUnits);
        const double worst = *std::max_element(view.stallsMs.begin(), view.stallsMs.end());
        ratios.push_back(ratio);
        const double busiest = *std::max_element(view.busyMs.begin(), view.busyMs.end());
        worstStalls.push_back(worst);
        medianStalls.push_back(median(view.stallsMs));
        worstBusy.push_back(busiest);
        medianBusy.push_back(median(view.busyMs));
        mostRedraws = std::max(mostRedraws, view.mostRedrawsInASecond);
        std::printf(
            "round %d: unit %.2f s in the view, %.2f s on the command line (ratio %.3f); GUI thread "
            "busy at most %.2f ms between heartbeats, median %.3f ms; heartbeat late at most %.1f ms, "
            "median %.2f ms; the view's %zu hand-overs took at most %.2f ms, median %.3f ms; "
            "at most %d redraws of a tile in a second\n",
            round, mean(view.unitSeconds), mean(cliUnits), ratio, busiest, median(view.busyMs), worst,
            median(view.stallsMs), view.deliveriesMs.size(),
            *std::max_element(view.deliveriesMs.begin(), view.deliveriesMs.end()), median(view.deliveriesMs),
            view.mostRedrawsInASecond);
    }
    std::printf(
        "over %d rounds of %d hubs: ratio median %.3f (target at most 1.05); GUI thread busy at most "
        "%.2f ms between heartbeats, median %.3f ms (target under 16 ms); heartbeat late at most %.1f ms, "
        "median %.2f ms; at most %d redraws of a tile in a second (target at most 10)\n",
        rounds, kHubs, median(ratios), *std::max_element(worstBusy.begin(), worstBusy.end()),
        median(medianBusy), *std::max_element(worstStalls.begin(), worstStalls.end()), median(medianStalls),
        mostRedraws);
    return 0;
}
