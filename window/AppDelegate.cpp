// The window's life, its layout of boxes and the operations the workflows and
// the launch call, each handed to the box that holds its controls.
#include "window/AppDelegate.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/Config.h"
#include "environment/HubEnvironment.h"
#include "environment/HubListing.h"
#include "environment/PlanAdmission.h"
#include "window/ControlFactory.h"
#include "window/DetailBox.h"
#include "window/EasyUpdateBox.h"
#include "window/FlashBox.h"
#include "window/GuiHandOver.h"
#include "window/HelpBox.h"
#include "window/HubDetectionService.h"
#include "window/ScalarBox.h"
#include "window/StationView.h"
#include "window/UpdateBox.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "window/WindowTexts.h"

namespace velmora::window {
namespace {

constexpr int kCloseWhenDoneLookMs = 100;

QString portList(const std::vector<std::string>& ports) {
    QStringList names;
    for (const std::string& port : ports) names << QString::fromStdString(port);
    return names.join(", ");
}

}  // namespace

AppDelegate::AppDelegate(WindowSession& session, WindowEnvironment& environment)
    : session_(session),
      environment_(environment),
      reporter_(std::make_unique<WindowReporter>(*this, environment.quit)),
      workers_(session.clock()),
      closeWhenDone_(new QTimer(this)) {
    // The span ends on a worker, so the waiting close looks for its end a few
    // times a second; nothing looks while no close waits.
    closeWhenDone_->setInterval(kCloseWhenDoneLookMs);
    connect(closeWhenDone_, &QTimer::timeout, this, [this] {
        if (writingFlash()) return;
        closeWhenDone_->stop();
        close();
    });
    detection_ = std::make_unique<HubDetectionService>(
        [&session] { return detectAttachedHubs(session.environment()); }, session.platform(),
        session.console(),
        [this](const HubInfo& info) {
            // Shown on the GUI thread; dropped when the window is already gone.
            runOnGuiThread(
                this, [this, info] { showHubInfo(info); }, Qt::QueuedConnection);
        });
    services_.emplace(
        BoxServices{session, environment, *reporter_, workers_, detection_->scheduler(), *this});
    session.onHistoryProblem([this](const std::string& problem) {
        runOnGuiThread(
            this, [this, text = QString::fromStdString(problem)] { showHistoryProblem(text); },
            Qt::QueuedConnection);
    });
}

AppDelegate::~AppDelegate() {
    shutDown();
    // The controls go while their boxes still exist: whatever a control signals
    // as it goes reaches a whole box. The station view waits for its unit runs.
    delete takeCentralWidget();
    delete ordinaryContent_;
}

void AppDelegate::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    // The station's loop ends at once; its units' runs end on their own.
    if (stationView_ != nullptr) stationView_->shutDown();
    workers_.joinAll();
    detection_->stop();
    session_.onHistoryProblem({});
}

bool AppDelegate::writingFlash() const {
    return session_.environment().hostHold().insideSpan();
}

void AppDelegate::closeEvent(QCloseEvent* event) {
    if (stationView_ != nullptr && !stationAllowsClose()) {
        event->ignore();
        return;
    }
    if (!writingFlash()) {
        closeWhenDone_->stop();
        QMainWindow::closeEvent(event);
        return;
    }
    // Never closed mid-write: a close asked for again while the question is open,
    // or once the answer was to close when done, changes nothing.
    event->ignore();
    if (askingToClose_ || closeWhenDone_->isActive()) return;
    askingToClose_ = true;
    const CloseAnswer answer = environment_.dialogs.askCloseDuringFlash(this);
    askingToClose_ = false;
    // The write may have ended while the question was open: the timer's first
    // look then closes the window.
    if (answer == CloseAnswer::CloseWhenDone) closeWhenDone_->start();
}

bool AppDelegate::stationAllowsClose() {
    if (!stationView_->running()) return true;
    const std::vector<std::string> running = stationView_->unitsInProgress();
    if (running.empty()) {
        // Nothing to wait for: the station stops, and its loop ends within a look at the bus.
        stationView_->stopTaking();
        return true;
    }
    if (askingToClose_ || closeWhenStationEnds_) return false;
    askingToClose_ = true;
    const StationCloseAnswer answer = environment_.dialogs.askCloseStation(this, portList(running));
    askingToClose_ = false;
    if (answer == StationCloseAnswer::CloseWhenDone) {
        closeWhenStationEnds_ = true;
        stationView_->stopTaking();
    } else if (answer == StationCloseAnswer::Abandon) {
        stationView_->abandon();
    }
    return false;
}

void AppDelegate::stationEnded(StationEnd end) {
    if (end == StationEnd::Abandoned) {
        // As the command line's second Ctrl-C: the units not yet writing are left,
        // the process ends once the flash writes in progress are done.
        if (environment_.endAfterFlashWrites) {
            environment_.endAfterFlashWrites(1);
        } else {
            closeWhenDone_->start();
        }
        return;
    }
    if (closeWhenStationEnds_) close();
}

std::string AppDelegate::openStation(const StationRequest& request) {
    if (stationView_ != nullptr) return "The station is open already.";
    if (workers_.running() > 0) return "An update is running: open the station once it has finished.";
    HubEnvironment& environment = session_.environment();
    // The station passes the gate every run passes: the image, the figures' file.
    PlanVerdict verdict = environment.admitPlan(
        stationPlan(request, keptPlan(environment, "the station", PlanHubs::EachArriving)));
    if (!verdict.admitted()) return verdict.reason;
    ImageAdmission admission = std::move(*verdict.image);
    std::string error;
    bool serverAway = false;
    Console& console = session_.console();
    std::unique_ptr<StationSetup> setup = StationSetup::prepare(
        environment, request, std::move(admission),
        [&console](const std::string& line) { console.line(line); }, error, serverAway);
    if (!setup) return error;
    // The station looks at the bus itself; detection would open the hubs its units update.
    detection_->stop();
    auto* view = new StationView(environment, std::move(setup), request,
                                 [this](StationEnd end) { stationEnded(end); });
    view->confirmAbandon = [this](const std::vector<std::string>& ports) {
        return environment_.dialogs.confirmAbandon(this, portList(ports));
    };
    ordinaryContent_ = takeCentralWidget();
    setCentralWidget(view);
    stationView_ = view;
    setMinimumSize(texts::kStationMinimumWidth, texts::kStationMinimumHeight);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(texts::kStationWidth, texts::kStationHeight);
    setWindowTitle(windowTitle() + " - " + texts::kStationTitle);
    stationMenu_->setEnabled(false);
    view->start(workers_);
    return {};
}

void AppDelegate::chooseStationImage() {
    if (workers_.running() > 0) {
        showAlert("An update is running: open the station once it has finished.");
        return;
    }
    const std::optional<QString> path = environment_.dialogs.chooseOpenFile(this);
    if (!path) return;
    StationRequest request;
    request.imagePath = path->toStdString();
    request.stationName = session_.environment().options().stationName;
    const std::string refused = openStation(request);
    if (!refused.empty()) showAlert(QString::fromStdString(refused));
}

void AppDelegate::MyLayoutUI() {
    const AppConfig& config = session_.config();
    setWindowTitle(QString::fromStdString(config.appTitle) + QString::fromLatin1(kAppVersionSuffix));
    QMenu* menu = menuBar()->addMenu(QString::fromStdString(config.appTitle));
    stationMenu_ =
        menu->addAction(QString::fromLatin1(texts::kStationMenuItem), this, &AppDelegate::chooseStationImage);
    menu->addAction(QString::fromLatin1(texts::kQuit), QKeySequence::Quit, this, &QWidget::close);

    // The boxes keep their place relative to the bottom edge of the final content.
    const bool scalar = config.scalarLayout();
    const int width = scalar ? texts::kScalarWidth : texts::kFullWidth;
    const int height = scalar ? texts::kScalarHeight : texts::kFullHeight;
    auto* content = new QWidget;
    content->setObjectName("content");
    content->setFixedSize(width, height);
    setCentralWidget(content);

    QGroupBox* help = makeBox(content, texts::kHelpBox, {0, 15, 350, 160}, "helpBox");
    QGroupBox* scalarFrame = makeBox(content, texts::kScalarBox, {0, 185, 350, 90}, "scalarBox");
    QGroupBox* update = makeBox(content, texts::kUpdateBox, {0, 290, 350, 365}, "updateBox");
    QGroupBox* easyUpdate = makeBox(content, texts::kEasyUpdateBox, {360, 15, 350, 270}, "easyUpdateBox");
    QGroupBox* flash = makeBox(content, texts::kFlashBox, {360, 360, 350, 270}, "flashBox");
    QGroupBox* detail = makeBox(content, texts::kDetailBox, {720, 15, 450, 637}, "detailBox");
    helpBox_ = std::make_unique<HelpBox>(*help, *services_, needSignDriver);
    scalarBox_ = std::make_unique<ScalarBox>(*scalarFrame, *services_);
    updateBox_ = std::make_unique<UpdateBox>(*update);
    easyUpdateBox_ = std::make_unique<EasyUpdateBox>(*easyUpdate, *services_);
    // The flash box redraws the detail box, so that one is there first.
    detailBox_ = std::make_unique<DetailBox>(*detail, *services_);
    flashBox_ = std::make_unique<FlashBox>(*flash, *services_, *detailBox_);

    scalarFrame->setVisible(scalar);
    easyUpdate->setVisible(!scalar);
    flash->setVisible(!scalar);
    detail->setVisible(!scalar);
    // The window keeps the content size of its layout.
    setFixedSize(width, height + menuBar()->sizeHint().height());
    buttonSet_ = buttonSet();
}

std::vector<QPushButton*> AppDelegate::buttonSet() const {
    return {scalarBox_->nsbtnSelect_Scalar,       flashBox_->btnLoad_FwFlash,
            flashBox_->btnSave_FwFlash,           easyUpdateBox_->btnSelect_EasyUpdate,
            helpBox_->nsbtnLoadDriver_HelpBox,    helpBox_->nsbtnUnloadDriver_HelpBox,
            flashBox_->btnRead_FwFlash,           flashBox_->btnErase_FwFlash,
            easyUpdateBox_->btnUpdate_EasyUpdate, scalarBox_->nsbtnUpdate_Scalar};
}

void AppDelegate::RegisterNotifycation() {
    detection_->RegisterNotifycation();
}

void AppDelegate::startScalarRunAtLaunch() {
    // The launch detections (two, queued by RegisterNotifycation) end, and their
    // result is queued to the field, before the run takes the hub: the run's first
    // lines reach the GUI thread after it.
    scalarBox_->runAtLaunch([this] { detection_->waitUntilIdle(); });
}

void AppDelegate::SetButtonStatus(bool enabled) {
    for (QPushButton* button : buttonSet_) button->setEnabled(enabled);
}

void AppDelegate::updateProgressBar(double value) {
    updateBox_->updateProgressBar(value);
}

void AppDelegate::resetProgressInfo() {
    updateBox_->resetProgressInfo();
}

void AppDelegate::appendProgressInfo_Blue(const QString& text) {
    updateBox_->appendProgressInfo_Blue(text);
}

void AppDelegate::appendProgressInfo_Red(const QString& text) {
    updateBox_->appendProgressInfo_Red(text);
}

void AppDelegate::showHubInfo(const HubInfo& info) {
    updateBox_->showHubInfo(info);
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

void AppDelegate::controlTextDidChange(QLineEdit* field) {
    flashBox_->controlTextDidChange(field);
}

void AppDelegate::VID_HSPID_SSPID_Changed_FwFlash(QLineEdit* field) {
    flashBox_->VID_HSPID_SSPID_Changed_FwFlash(field);
}

void AppDelegate::textDidChange_ManuProSN(QLineEdit* field) {
    flashBox_->textDidChange_ManuProSN(field);
}

void AppDelegate::readFinished_FwFlash(const std::function<void()>& storeFlashContents) {
    flashBox_->readFinished_FwFlash(storeFlashContents);
}

void AppDelegate::LoadUpdateDriver() {
    helpBox_->LoadUpdateDriver();
}

void AppDelegate::UnloadUpdateDriver() {
    helpBox_->UnloadUpdateDriver();
}

void AppDelegate::GetLog() {
    helpBox_->GetLog();
}

void AppDelegate::chooseScalarUpdateFw() {
    scalarBox_->chooseScalarUpdateFw();
}

void AppDelegate::MP_UpdateScalar() {
    scalarBox_->MP_UpdateScalar();
}

void AppDelegate::chooseFw_EasyUpdate() {
    easyUpdateBox_->chooseFw_EasyUpdate();
}

void AppDelegate::updateFw_EasyUpdate() {
    easyUpdateBox_->updateFw_EasyUpdate();
}

void AppDelegate::read_FwFlash() {
    flashBox_->read_FwFlash();
}

void AppDelegate::load_FwFlash() {
    flashBox_->load_FwFlash();
}

void AppDelegate::erase_FwFlash() {
    flashBox_->erase_FwFlash();
}

void AppDelegate::save_FwFlash() {
    flashBox_->save_FwFlash();
}

void AppDelegate::ICTypeCombBox_SelectedChanged() {
    detailBox_->ICTypeCombBox_SelectedChanged();
}

void AppDelegate::PageNameCombBox_SelectedChanged() {
    detailBox_->PageNameCombBox_SelectedChanged();
}

}  // namespace velmora::window
