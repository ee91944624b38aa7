// "LoadUpdateDriver" and "UnloadUpdateDriver": the privileged scripts are started
// from a worker, so the password prompt and the hub reset after an unload (which
// can wait tens of seconds for the hub) never hold the window. The buttons stay
// off meanwhile; the reset runs under the detection hold like any workflow.
#include <filesystem>

#include "app/Console.h"
#include "detection/DetectionScheduler.h"
#include "detection/HubDetection.h"
#include "driver_install/BootArgsSnapshot.h"
#include "driver_install/DriverInstaller.h"
#include "driver_install/DriverMessages.h"
#include "driver_install/FlashCodeReset.h"
#include "window/AppDelegate.h"
#include "window/HubDetectionService.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"

namespace velmora::window {
namespace {

// The restart question, asked on the GUI thread while the worker waits.
class WindowRestartQuestion final : public driver::RestartQuestion {
public:
    WindowRestartQuestion(WindowReporter& reporter, WindowDialogs& dialogs, QWidget* window)
        : reporter_(reporter), dialogs_(dialogs), window_(window) {}

    driver::RestartAnswer ask(std::string_view message) override {
        driver::RestartAnswer answer = driver::RestartAnswer::Cancel;
        const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
        reporter_.onGuiThread([&] { answer = dialogs_.askRestart(window_, text); });
        return answer;
    }

private:
    WindowReporter& reporter_;
    WindowDialogs& dialogs_;
    QWidget* window_;
};

// The reset into the flash code, holding the connection against detection.
class HeldFlashCodeReset final : public driver::HubReset {
public:
    HeldFlashCodeReset(HubConnection& connection, DetectionScheduler& scheduler)
        : connection_(connection), scheduler_(scheduler) {}

    driver::HubResetOutcome resetToFlashCode() override {
        WorkflowHold hold(&scheduler_);
        return driver::FlashCodeReset(connection_).resetToFlashCode();
    }

private:
    HubConnection& connection_;
    DetectionScheduler& scheduler_;
};

}  // namespace

void AppDelegate::LoadUpdateDriver() {
    if (!environment_.privateFolder) {
        session_.console().line(
            "Enter LoadUpdateDriver: no private folder for the driver bundle; nothing done");
        return;
    }
    SetButtonStatus(false);
    runDriverAction([this] {
        WindowRestartQuestion question(*reporter_, environment_.dialogs, this);
        const driver::RestartCheck check{needSignDriver,
                                         *environment_.privateFolder / driver::kSnapshotFileName};
        const driver::LoadOutcome outcome = driver::LoadUpdateDriver(driverActions(), check, question);
        reportDriverOutcome(driver::loadOutcomeLines(outcome, environment_.driverResourcePath),
                            outcome.succeeded());
        if (outcome.after == driver::AfterLoad::QuitApplication) {
            reporter_->onGuiThread([this] { environment_.quit(0); }, ProgressDelivery::NoWait);
        }
    });
}

void AppDelegate::UnloadUpdateDriver() {
    SetButtonStatus(false);
    runDriverAction([this] {
        HeldFlashCodeReset reset(session_.connection(), detection_->scheduler());
        const driver::UnloadOutcome outcome = driver::UnloadUpdateDriver(driverActions(), reset);
        reportDriverOutcome(driver::unloadOutcomeLines(outcome, environment_.driverResourcePath),
                            outcome.succeeded());
    });
}

driver::DriverActions AppDelegate::driverActions() {
    // The scripts and the bundle come from the installed folder whatever
    // configuration was named; only the hub IDs come from the configuration.
    return driver::DriverActions{environment_.driverResourcePath,
                                 environment_.privateFolder.value_or(std::filesystem::path{}),
                                 environment_.privileged,
                                 environment_.shell,
                                 session_.console(),
                                 [this](bool enabled) { reporter_->SetButtonStatus(enabled); },
                                 driver::driverHubIds(session_.config().table)};
}

void AppDelegate::reportDriverOutcome(const std::vector<std::string>& lines, bool succeeded) {
    std::string text;
    for (const std::string& line : lines) {
        session_.console().line(line);
        text += line + "\n";
    }
    // A driver action that failed would otherwise leave the user believing it
    // worked: its outcome is shown in an alert. A success needs no word.
    if (!succeeded && !text.empty()) reporter_->showAlert(text);
}

void AppDelegate::runDriverAction(std::function<void()> action) {
    workers_.start(std::move(action));
}

}  // namespace velmora::window
