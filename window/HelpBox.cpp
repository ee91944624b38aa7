#include "window/HelpBox.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <filesystem>

#include "app/Console.h"
#include "app/LogCopy.h"
#include "detection/DetectionScheduler.h"
#include "driver_install/BootArgsSnapshot.h"
#include "driver_install/DriverMessages.h"
#include "driver_install/FlashCodeReset.h"
#include "window/ControlFactory.h"
#include "window/WindowEnvironment.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "window/WindowTexts.h"
#include "window/WorkerThreads.h"

namespace velmora::window {
namespace {

// The help box's border is blue; the title keeps its usual place.
constexpr const char* kBlueBorder =
    "QGroupBox#helpBox { border: 1px solid blue; border-radius: 3px; margin-top: 8px; }"
    "QGroupBox#helpBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }";

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

HelpBox::HelpBox(QGroupBox& frame, const BoxServices& services, const bool& needSignDriver)
    : box(&frame), services_(services), needSignDriver_(needSignDriver) {
    box->setStyleSheet(QString::fromLatin1(kBlueBorder));
    QWidget* area = makeContentArea(box);
    nsbtnLoadDriver_HelpBox = makeButton(area, texts::kLoadDriver, {0, 115, 130, 20});
    nsbtnUnloadDriver_HelpBox = makeButton(area, texts::kUnloadDriver, {175, 115, 130, 20});
    auto* help = makeLabel(area, texts::kHelpText, {0, 25, 350, 85});
    help->setObjectName("helpText");
    help->setFrameShape(QFrame::StyledPanel);
    help->setAutoFillBackground(true);
    help->setBackgroundRole(QPalette::Base);
    help->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    help->setWordWrap(true);
    btnGetLog_HelpBox = makeButton(area, texts::kGetLog, {230, 0, 70, 20});
    QObject::connect(nsbtnLoadDriver_HelpBox, &QPushButton::clicked, box, [this] { LoadUpdateDriver(); });
    QObject::connect(nsbtnUnloadDriver_HelpBox, &QPushButton::clicked, box, [this] { UnloadUpdateDriver(); });
    QObject::connect(btnGetLog_HelpBox, &QPushButton::clicked, box, [this] { GetLog(); });
}

void HelpBox::GetLog() {
    WindowSession& session = services_.session;
    session.console().line("Entering GetLog");
    // Nothing is reported either way: a missing log simply leaves no copy.
    const WindowEnvironment& environment = services_.environment;
    if (!copyLogFile(environment.logPath, environment.desktopFolder)) {
        session.console().line("Get Log: no copy made in " + environment.desktopFolder);
    }
}

void HelpBox::LoadUpdateDriver() {
    WindowEnvironment& environment = services_.environment;
    if (!environment.privateFolder) {
        services_.session.console().line(driver::kNoPrivateFolderLine);
        services_.reporter.showAlert(driver::kNoPrivateFolderAlert);
        return;
    }
    // The buttons stay off until the worker's driver action turns them on again.
    services_.reporter.SetButtonStatus(false);
    services_.workers.start([this, &environment] {
        WindowRestartQuestion question(services_.reporter, environment.dialogs, &services_.window);
        const driver::RestartCheck check{needSignDriver_,
                                         *environment.privateFolder / driver::kSnapshotFileName};
        const driver::LoadOutcome outcome = driver::LoadUpdateDriver(driverActions(), check, question);
        reportDriverOutcome(driver::loadOutcomeLines(outcome, environment.driverResourcePath),
                            outcome.succeeded());
        if (outcome.after == driver::AfterLoad::QuitApplication) {
            services_.reporter.onGuiThread([&environment] { environment.quit(0); }, ProgressDelivery::NoWait);
            return;
        }
        // Whatever ended the load (a configuration listing no hub ends it before
        // the script runs), the buttons turned off above come back on.
        services_.reporter.SetButtonStatus(true);
    });
}

void HelpBox::UnloadUpdateDriver() {
    services_.reporter.SetButtonStatus(false);
    services_.workers.start([this] {
        // The reset runs under the detection hold like any workflow.
        HeldFlashCodeReset reset(services_.session.connection(), services_.scheduler);
        const driver::UnloadOutcome outcome = driver::UnloadUpdateDriver(driverActions(), reset);
        reportDriverOutcome(driver::unloadOutcomeLines(outcome, services_.environment.driverResourcePath),
                            outcome.succeeded());
    });
}

driver::DriverActions HelpBox::driverActions() {
    // The scripts and the bundle come from the installed folder whatever
    // configuration was named; only the hub IDs come from the configuration.
    WindowEnvironment& environment = services_.environment;
    return driver::DriverActions{environment.driverResourcePath,
                                 environment.privateFolder.value_or(std::filesystem::path{}),
                                 environment.privileged,
                                 environment.shell,
                                 services_.session.console(),
                                 [this](bool enabled) { services_.reporter.SetButtonStatus(enabled); },
                                 driver::driverHubIds(services_.session.config().table)};
}

void HelpBox::reportDriverOutcome(const std::vector<std::string>& lines, bool succeeded) {
    std::string text;
    for (const std::string& line : lines) {
        services_.session.console().line(line);
        text += line + "\n";
    }
    // A driver action that failed would otherwise leave the user believing it
    // worked: its outcome is shown in an alert. A success needs no word.
    if (!succeeded && !text.empty()) services_.reporter.showAlert(text);
}

}  // namespace velmora::window
