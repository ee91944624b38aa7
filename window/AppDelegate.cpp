// The window's life and its status output: the pane, the slider, the alerts, the
// button set, the hub info field and "Get Log".
#include "window/AppDelegate.h"

#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTextEdit>
#include <cmath>

#include "app/Console.h"
#include "app/LogCopy.h"
#include "window/GuiHandOver.h"
#include "window/HubDetectionService.h"
#include "window/TableViewController.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "workflows/WorkflowContext.h"

namespace velmora::window {
namespace {

// The whole text of a view takes one colour at a time.
void setTextColour(QWidget* view, Qt::GlobalColor colour) {
    QPalette palette = view->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Text, colour);
    }
    view->setPalette(palette);
}

}  // namespace

AppDelegate::AppDelegate(WindowSession& session, WindowEnvironment& environment)
    : session_(session),
      environment_(environment),
      reporter_(std::make_unique<WindowReporter>(*this, environment.quit)) {
    detection_ = std::make_unique<HubDetectionService>(
        session.connection(), session.platform(), session.console(), [this](const HubInfo& info) {
            // Shown on the GUI thread; dropped when the window is already gone.
            runOnGuiThread(
                this, [this, info] { showHubInfo(info); }, Qt::QueuedConnection);
        });
    session.onHistoryProblem([this](const std::string& problem) {
        runOnGuiThread(
            this, [this, text = QString::fromStdString(problem)] { showHistoryProblem(text); },
            Qt::QueuedConnection);
    });
}

AppDelegate::~AppDelegate() {
    shutDown();
}

void AppDelegate::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    workers_.joinAll();
    detection_->stop();
    session_.onHistoryProblem({});
}

void AppDelegate::RegisterNotifycation() {
    detection_->RegisterNotifycation();
}

WorkflowContext AppDelegate::workflowContext() {
    return WorkflowContext{*reporter_, session_.connection(), &detection_->scheduler(), nullptr,
                           session_.recorder()};
}

void AppDelegate::SetButtonStatus(bool enabled) {
    for (QPushButton* button : buttonSet_) button->setEnabled(enabled);
}

void AppDelegate::updateProgressBar(double value) {
    slider->setValue(static_cast<int>(std::lround(value)));
}

void AppDelegate::resetProgressInfo() {
    nstfUpdateInfo_UpdateFW->clear();
}

void AppDelegate::appendProgressInfo_Blue(const QString& text) {
    nstfUpdateInfo_UpdateFW->setPlainText(nstfUpdateInfo_UpdateFW->toPlainText() + text);
    colourPane(Qt::blue);
}

void AppDelegate::appendProgressInfo_Red(const QString& text) {
    nstfUpdateInfo_UpdateFW->setPlainText(nstfUpdateInfo_UpdateFW->toPlainText() + text);
    colourPane(Qt::red);
}

void AppDelegate::colourPane(Qt::GlobalColor colour) {
    setTextColour(nstfUpdateInfo_UpdateFW, colour);
}

void AppDelegate::showAlert(const QString& text) {
    environment_.dialogs.alert(this, text);
}

void AppDelegate::showHistoryProblem(const QString& text) {
    // Not modal: the run it concerns goes on, and a production station must not
    // wait for a click.
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void AppDelegate::showHubInfo(const HubInfo& info) {
    nstfHubInfo_UpdateFW->setPlainText(QString::fromStdString(info.text));
    setTextColour(nstfHubInfo_UpdateFW, info.colour == TextColour::Blue ? Qt::blue : Qt::red);
}

void AppDelegate::GetLog() {
    session_.console().line("Entering GetLog");
    // Nothing is reported either way: a missing log simply leaves no copy.
    if (!copyLogFile(environment_.logPath, environment_.desktopFolder)) {
        session_.console().line("Get Log: no copy made in " + environment_.desktopFolder);
    }
}

}  // namespace velmora::window
