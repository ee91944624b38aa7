#include "WindowFixture.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <fstream>

#include "device/VendorCommands.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "window/Launch.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string configText(const WindowSetup& setup) {
    return "[Parvane Config]\nAppTitle = Velmora\nScalarMode = " + std::to_string(setup.scalarMode) +
           "\nFwBin = " + setup.fwBin + "\n[Support Vid Pid]\n" +
           (setup.listsNoHub ? "" : "VID_00 = 0x2FE3\nSSPID_00 = 0x0611\nHSPID_00 = 0x0610\n") +
           (setup.requiresSigned ? "[Images]\nRequireSigned = 1\n" : "");
}

// A fake /sys whose Secure Boot state the signature check reads.
void writeSystemRoot(const fs::path& root, bool enforced) {
    writeText(root / "sys/module/module/parameters/sig_enforce", enforced ? "Y\n" : "N\n");
}

}  // namespace

std::optional<QString> FakeDialogs::chooseOpenFile(QWidget*) {
    if (openAnswers.empty()) return std::nullopt;
    const bool cancelled = !openAnswers.front().has_value();
    const QString path = openAnswers.front().value_or(QString());
    openAnswers.pop_front();
    if (cancelled) return std::nullopt;
    return path;
}

std::optional<QString> FakeDialogs::chooseSavePath(QWidget*) {
    return saveAnswer;
}

driver::RestartAnswer FakeDialogs::askRestart(QWidget*, const QString& message) {
    restartQuestions.push_back(message.toStdString());
    return restartAnswer;
}

WindowFixture::WindowFixture() = default;

WindowFixture::~WindowFixture() {
    closeWindow();
}

void WindowFixture::closeWindow() {
    if (gate_) releaseUnits();
    if (window_) window_->shutDown();
    window_.reset();
    session_.reset();
}

void WindowFixture::launch(const WindowSetup& setup) {
    launchWindow(setup, std::nullopt);
    ASSERT_TRUE(window_);
    ASSERT_TRUE(waitForWorkflowEnd());
}

void WindowFixture::launchStation(const WindowSetup& setup, StationRequest request) {
    if (request.imagePath.empty()) request.imagePath = sampleImagePath();
    launchWindow(setup, request);
    ASSERT_TRUE(window_);
    ASSERT_NE(window_->stationView(), nullptr);
}

void WindowFixture::launchWindow(const WindowSetup& setup, const std::optional<StationRequest>& station) {
    writeText(folder_ / "resources/config.ini", configText(setup));
    fs::create_directories(folder_ / "resources/ic");
    // A second launch in the same test finds the files of the first.
    const auto overwrite = fs::copy_options::overwrite_existing;
    fs::copy_file(fs::path(VELMORA_TEST_RESOURCES) / "ic/ZeloSim.INI", folder_ / "resources/ic/ZeloSim.INI",
                  overwrite);
    fs::copy_file(fs::path(VELMORA_TEST_RESOURCES) / "images/sample-update.bin",
                  folder_ / "resources/sample-update.bin", overwrite);
    fs::create_directories(folder_ / "private");
    writeSystemRoot(folder_ / "root", setup.signaturesEnforced);

    auto console = std::make_unique<RecordingConsole>();
    console_ = console.get();
    window::SessionPaths paths{(folder_ / "resources/config.ini").string(), resourcePath(),
                               (folder_ / "user-data").string()};
    std::optional<std::string> backups;
    if (setup.keepsBackups) {
        fs::create_directories(backupsFolder());
        fs::permissions(backupsFolder(), fs::perms::owner_all);
        backups = backupsFolder();
    }
    session_ = window::WindowSession::createSimulated(
        paths, setup.scenario, std::move(console), window::WindowSession::Time::Virtual, backups,
        setup.recording, setup.keepsHistory ? std::optional<std::string>(historyPath()) : std::nullopt);
    ASSERT_TRUE(session_);
    if (setup.holdsUnits) {
        gate_ = std::make_shared<UnitGate>();
        session_->environment().observeRequests([gate = gate_](const UsbSetup& request, IOReturn) {
            if (request.bRequest != vendor::kRequestEraseFlash) return;
            std::unique_lock lock(gate->mutex);
            ++gate->waiting;
            gate->changed.notify_all();
            gate->changed.wait(lock, [&] { return !gate->holding; });
        });
    }
    environment_ = std::make_unique<window::WindowEnvironment>(dialogs_, privileged_, shell_);
    environment_->logPath = (folder_ / "Velmora.log").string();
    environment_->privateFolder = folder_ / "private";
    environment_->desktopFolder = (folder_ / "Desktop").string();
    environment_->systemRoot = folder_ / "root";
    environment_->driverResourcePath = resourcePath();
    environment_->quit = [this](int status) { quits_.push_back(status); };
    environment_->endAfterFlashWrites = [this](int status) { endedAfterFlashWrites_.push_back(status); };
    std::string error;
    window_ = window::launchVelmora(*session_, *environment_, &error, station);
    ASSERT_TRUE(window_) << error;
}

bool WindowFixture::waitForHeldUnits(int count) {
    return QTest::qWaitFor(
        [&] {
            std::lock_guard lock(gate_->mutex);
            return gate_->waiting >= count;
        },
        kPatienceMs);
}

void WindowFixture::releaseUnits() {
    std::lock_guard lock(gate_->mutex);
    gate_->holding = false;
    gate_->changed.notify_all();
}

sim::SimulatedHub& WindowFixture::hub() {
    return *session_->simulation()->hub();
}

std::vector<sim::SimulatedHub*> WindowFixture::hubs() {
    return session_->simulation()->bus().hubs();
}

std::string WindowFixture::sampleImagePath() const {
    return resourcePath() + "/sample-update.bin";
}

std::string WindowFixture::writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

bool WindowFixture::consoleHas(const std::string& line) const {
    for (const std::string& each : console_->lines()) {
        if (each == line) return true;
    }
    return false;
}

QString WindowFixture::paneText() const {
    return window_->updateBox().nstfUpdateInfo_UpdateFW->toPlainText();
}

QColor WindowFixture::paneColour() const {
    return window_->updateBox().nstfUpdateInfo_UpdateFW->palette().color(QPalette::Active, QPalette::Text);
}

QString WindowFixture::hubInfoText() const {
    return window_->updateBox().nstfHubInfo_UpdateFW->toPlainText();
}

QColor WindowFixture::hubInfoColour() const {
    return window_->updateBox().nstfHubInfo_UpdateFW->palette().color(QPalette::Active, QPalette::Text);
}

namespace {

std::vector<QPushButton*> buttonSet(window::AppDelegate& window) {
    window::HelpBox& help = window.helpBox();
    window::ScalarBox& scalar = window.scalarBox();
    window::EasyUpdateBox& easyUpdate = window.easyUpdateBox();
    window::FlashBox& flash = window.flashBox();
    return {scalar.nsbtnSelect_Scalar,       flash.btnLoad_FwFlash,        flash.btnSave_FwFlash,
            easyUpdate.btnSelect_EasyUpdate, help.nsbtnLoadDriver_HelpBox, help.nsbtnUnloadDriver_HelpBox,
            flash.btnRead_FwFlash,           flash.btnErase_FwFlash,       easyUpdate.btnUpdate_EasyUpdate,
            scalar.nsbtnUpdate_Scalar};
}

}  // namespace

bool WindowFixture::allButtonsEnabled() const {
    for (QPushButton* button : buttonSet(*window_)) {
        if (!button->isEnabled()) return false;
    }
    return true;
}

bool WindowFixture::anyButtonEnabled() const {
    for (QPushButton* button : buttonSet(*window_)) {
        if (button->isEnabled()) return true;
    }
    return false;
}

bool WindowFixture::waitForWorkflowEnd() {
    const bool ended = QTest::qWaitFor(
        [this] { return window_->workers().running() == 0 && allButtonsEnabled(); }, kPatienceMs);
    // A finished worker may still have queued progress in the GUI thread's queue
    // (the read's last post comes after the buttons): deliver it before looking.
    QCoreApplication::sendPostedEvents();
    return ended;
}

}  // namespace velmora::testing
