#pragma once
// The real window against a simulated hub in virtual time, with dialogs and
// privileged runners the test controls, in a scratch folder of its own (the
// resource folder with config.ini and the chip definition, the log file, the
// private folder and the desktop).
#include <gtest/gtest.h>

#include <QString>
#include <QTest>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/Console.h"
#include "device/simulated/SimulatedHub.h"
#include "tests/support/ScratchFolder.h"
#include "window/AppDelegate.h"
#include "window/DetailBox.h"
#include "window/EasyUpdateBox.h"
#include "window/FlashBox.h"
#include "window/HelpBox.h"
#include "window/ScalarBox.h"
#include "window/StationView.h"
#include "window/UpdateBox.h"
#include "window/WindowEnvironment.h"
#include "window/WindowSession.h"

namespace velmora::testing {

// Long enough for a broken window to fail instead of hang; a working one is far quicker.
inline constexpr int kPatienceMs = 20000;

class FakeDialogs final : public window::WindowDialogs {
public:
    std::optional<QString> chooseOpenFile(QWidget*) override;
    std::optional<QString> chooseSavePath(QWidget*) override;
    void alert(QWidget*, const QString& text) override { alerts.push_back(text.toStdString()); }
    driver::RestartAnswer askRestart(QWidget*, const QString& message) override;
    window::CloseAnswer askCloseDuringFlash(QWidget*) override {
        ++closeQuestions;
        return closeAnswer;
    }
    bool confirmAbandon(QWidget*, const QString& ports) override {
        abandonQuestions.push_back(ports.toStdString());
        return abandonAnswer;
    }
    window::StationCloseAnswer askCloseStation(QWidget*, const QString& ports) override {
        stationCloseQuestions.push_back(ports.toStdString());
        return stationCloseAnswer;
    }

    std::deque<std::optional<QString>> openAnswers;  // one per open panel; empty: cancel
    std::optional<QString> saveAnswer;
    std::vector<std::string> alerts;
    driver::RestartAnswer restartAnswer = driver::RestartAnswer::Cancel;
    std::vector<std::string> restartQuestions;
    window::CloseAnswer closeAnswer = window::CloseAnswer::KeepOpen;
    int closeQuestions = 0;
    bool abandonAnswer = true;
    std::vector<std::string> abandonQuestions;  // the ports each named
    window::StationCloseAnswer stationCloseAnswer = window::StationCloseAnswer::KeepOpen;
    std::vector<std::string> stationCloseQuestions;
};

class RecordingPrivileged final : public driver::PrivilegedRunner {
public:
    driver::ScriptResult run(const std::string& scriptPath,
                             const std::vector<std::string>& arguments) override {
        scripts.push_back(scriptPath);
        lastArguments = arguments;
        return answer;
    }
    driver::ScriptResult answer;  // what every script run gives back
    std::vector<std::string> scripts;
    std::vector<std::string> lastArguments;
};

class RecordingShell final : public driver::ShellRunner {
public:
    void run(const std::string& command) override { commands.push_back(command); }
    std::vector<std::string> commands;
};

struct WindowSetup {
    std::string scenario = "flash-code";
    int scalarMode = 0;
    std::string fwBin;
    bool signaturesEnforced = false;  // a fake /sys saying Secure Boot is on
    RecordingOptions recording;       // --record, or --replay instead of the simulated bus
    bool listsNoHub = false;          // config.ini without its [Support Vid Pid] entries
    bool keepsBackups = false;        // in backupsFolder(), as the installed window keeps them
    bool requiresSigned = false;      // config.ini's [Images] RequireSigned = 1
    bool keepsHistory = false;        // in historyPath(), as --history names it
    bool holdsUnits = false;          // every run waits at its erase until releaseUnits()

    WindowSetup& withScenario(std::string name) {
        scenario = std::move(name);
        return *this;
    }
    WindowSetup& withScalarMode(int mode) {
        scalarMode = mode;
        return *this;
    }
    WindowSetup& withFwBin(std::string name) {
        fwBin = std::move(name);
        return *this;
    }
    WindowSetup& withNoHubListed() {
        listsNoHub = true;
        return *this;
    }
    WindowSetup& withBackups() {
        keepsBackups = true;
        return *this;
    }
    WindowSetup& withSignedImagesRequired() {
        requiresSigned = true;
        return *this;
    }
    WindowSetup& withUnitsHeld() {
        holdsUnits = true;
        return *this;
    }
    WindowSetup& withHistory() {
        keepsHistory = true;
        return *this;
    }
    WindowSetup& withSignaturesEnforced() {
        signaturesEnforced = true;
        return *this;
    }
};

class WindowFixture : public ::testing::Test {
protected:
    WindowFixture();
    ~WindowFixture() override;

    // Writes the scratch folder and launches the window; waits for the scalar run
    // every launch starts to end.
    void launch(const WindowSetup& setup = {});

    // Launches the window with its station view open (velmora --station), the
    // station running; the image is the sample image unless request names one.
    void launchStation(const WindowSetup& setup, StationRequest request = {});
    // The station view of a station launch.
    window::StationView& station() { return *window_->stationView(); }
    std::string historyPath() const { return (folder_ / "history.sqlite").string(); }
    std::vector<int> endedAfterFlashWrites_;  // the statuses the station's abandon asked for
    // With withUnitsHeld: waits until count runs wait at their erase; lets them all go on.
    bool waitForHeldUnits(int count);
    void releaseUnits();

    // Shuts the window down and drops its session: launch may start another.
    void closeWindow();

    window::AppDelegate& window() { return *window_; }
    window::WindowSession& session() { return *session_; }
    sim::SimulatedHub& hub();
    // Every hub of the scenario, in the bus's order.
    std::vector<sim::SimulatedHub*> hubs();
    const std::filesystem::path& folder() const { return scratch_.path(); }
    std::string resourcePath() const { return (folder_ / "resources").string(); }
    std::string backupsFolder() const { return (folder_ / "backups").string(); }
    std::string sampleImagePath() const;
    std::string writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    std::vector<std::string> consoleLines() const { return console_->lines(); }
    bool consoleHas(const std::string& line) const;

    QString paneText() const;
    QColor paneColour() const;
    QString hubInfoText() const;
    QColor hubInfoColour() const;
    // The ten buttons of the button set, each enabled.
    bool allButtonsEnabled() const;
    bool anyButtonEnabled() const;
    // Waits until no worker runs and the buttons are on again.
    bool waitForWorkflowEnd();

    FakeDialogs dialogs_;
    RecordingPrivileged privileged_;
    RecordingShell shell_;
    std::vector<int> quits_;
    std::unique_ptr<window::WindowEnvironment> environment_;

private:
    // Writes the scratch folder and launches the window, its station view open when asked.
    void launchWindow(const WindowSetup& setup, const std::optional<StationRequest>& station);

    // The runs held at their erase (withUnitsHeld): in virtual time, time stands
    // still while they wait, so the test sees every unit in progress.
    struct UnitGate {
        std::mutex mutex;
        std::condition_variable changed;
        bool holding = true;
        int waiting = 0;
    };
    std::shared_ptr<UnitGate> gate_;

    ScratchFolder scratch_{"velmora-gui"};
    const std::filesystem::path& folder_ = scratch_.path();
    RecordingConsole* console_ = nullptr;
    std::unique_ptr<window::WindowSession> session_;
    std::unique_ptr<window::AppDelegate> window_;
};

}  // namespace velmora::testing
