// How long the window's GUI thread is kept from its events while a full update
// runs against the simulated hub (in real time, with the hub's real reset
// delays). A 1 ms heartbeat timer on the GUI thread records the longest gap
// between its ticks; the gap beyond the timer's own period is the stall.
// Run by hand: velmora_gui_stall [RUNS]   (offscreen when no display is set)
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/Console.h"
#include "window/AppDelegate.h"
#include "window/EasyUpdateBox.h"
#include "window/Launch.h"
#include "window/UpdateBox.h"
#include "window/WindowEnvironment.h"
#include "window/WindowSession.h"

namespace {

using namespace velmora;
using namespace velmora::window;

constexpr int kHeartbeatMs = 1;

// Answers every open panel with the sample image; nothing else is asked.
class SampleImageDialogs final : public WindowDialogs {
public:
    explicit SampleImageDialogs(QString image) : image_(std::move(image)) {}
    std::optional<QString> chooseOpenFile(QWidget*) override { return image_; }
    std::optional<QString> chooseSavePath(QWidget*) override { return std::nullopt; }
    void alert(QWidget*, const QString& text) override {
        std::fprintf(stderr, "alert: %s\n", qPrintable(text));
    }
    driver::RestartAnswer askRestart(QWidget*, const QString&) override {
        return driver::RestartAnswer::Cancel;
    }
    CloseAnswer askCloseDuringFlash(QWidget*) override { return CloseAnswer::KeepOpen; }

private:
    QString image_;
};

class NoRunner final : public driver::PrivilegedRunner, public driver::ShellRunner {
public:
    driver::ScriptResult run(const std::string&, const std::vector<std::string>&) override { return {}; }
    void run(const std::string&) override {}
};

// The longest gap between heartbeats while the predicate is false.
double longestGapMs(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    heartbeat.start(kHeartbeatMs);
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return static_cast<double>(longest) / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string resources = VELMORA_TEST_RESOURCES;
    SampleImageDialogs dialogs(QString::fromStdString(resources + "/images/sample-update.bin"));
    NoRunner runner;
    WindowEnvironment environment(dialogs, runner, runner);
    environment.logPath = (std::filesystem::temp_directory_path() / "velmora-gui-stall.log").string();
    environment.quit = [](int) {};
    auto session =
        WindowSession::createSimulated({resources + "/config.ini", resources, ""}, "flash-code",
                                       std::make_unique<SilentConsole>(), WindowSession::Time::Real);
    std::unique_ptr<AppDelegate> window = launchVelmora(*session, environment);
    window->show();
    const auto idle = [&] {
        return window->workers().running() == 0 && window->easyUpdateBox().btnUpdate_EasyUpdate->isEnabled();
    };
    longestGapMs(idle);  // the scalar run of the launch
    window->easyUpdateBox().btnSelect_EasyUpdate->click();

    double worst = 0;
    for (int run = 1; run <= runs; ++run) {
        QElapsedTimer took;
        took.start();
        window->easyUpdateBox().btnUpdate_EasyUpdate->click();
        const double gap = longestGapMs(idle);
        const double stall = std::max(0.0, gap - kHeartbeatMs);
        worst = std::max(worst, stall);
        std::printf("run %d: update %.0f ms, longest GUI-thread stall %.1f ms%s\n", run,
                    static_cast<double>(took.elapsed()), stall,
                    window->updateBox().nstfUpdateInfo_UpdateFW->toPlainText().endsWith("Update FW Success\n")
                        ? ""
                        : " (update failed)");
    }
    std::printf("longest GUI-thread stall over %d updates: %.1f ms (target under 50 ms)\n", runs, worst);
    window->shutDown();
    return 0;
}
