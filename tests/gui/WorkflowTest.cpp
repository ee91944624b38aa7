// The workflow buttons against the simulated hub: what the pane says and in which
// colour, the slider, the buttons during and after a run, and what reaches the
// hub's flash or the disk.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTextEdit>
#include <fstream>
#include <iterator>
#include <thread>

#include "WindowFixture.h"
#include "app/Sha256.h"
#include "backups/BackupStore.h"
#include "device/simulated/SimulatedHub.h"
#include "history/HistoryRecord.h"
#include "window/HubDetectionService.h"

namespace velmora::testing {
namespace {

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const QColor kBlue(Qt::blue);
const QColor kRed(Qt::red);

class WorkflowTest : public WindowFixture {
protected:
    // Chooses the image through the "..." panel.
    void chooseEasyUpdateImage(const std::string& path) {
        dialogs_.openAnswers.push_back(QString::fromStdString(path));
        window().easyUpdateBox().btnSelect_EasyUpdate->click();
    }
    // Presses a workflow button: the whole button set goes off at once (before the
    // worker can reach the GUI thread), while the log button, the combo boxes and
    // the fields stay usable.
    void pressAndCheckButtonsOff(QPushButton* button) {
        button->click();
        EXPECT_FALSE(anyButtonEnabled());
        EXPECT_TRUE(window().helpBox().btnGetLog_HelpBox->isEnabled());
        EXPECT_TRUE(window().detailBox().cbPages->isEnabled());
        EXPECT_TRUE(window().flashBox().txtVID_FwFlash->isEnabled());
    }
};

TEST_F(WorkflowTest, EasyUpdateWritesTheImageAndEndsBlueAt100) {
    launch(WindowSetup().withScenario("rom-code"));
    chooseEasyUpdateImage(sampleImagePath());
    EXPECT_EQ(window().easyUpdateBox().txtFw_EasyUpdate->text().toStdString(), sampleImagePath());
    EXPECT_EQ(window().easyUpdateBox().txtVID_EasyUpdate->text(), "2FE3");
    EXPECT_EQ(window().easyUpdateBox().txtSSPID_EasyUpdate->text(), "0611");
    EXPECT_EQ(window().easyUpdateBox().txtHSPID_EasyUpdate->text(), "0610");
    EXPECT_FALSE(window().easyUpdateBox().txtManu_EasyUpdate->text().isEmpty());

    pressAndCheckButtonsOff(window().easyUpdateBox().btnUpdate_EasyUpdate);
    ASSERT_TRUE(waitForWorkflowEnd());
    const std::vector<std::uint8_t> image = readBytes(sampleImagePath());
    const QString expected = QString(
                                 "FW:%1(size=%2)\n\nErase Flash...\nWrite Flash...\nRead Flash...\n"
                                 "Verify Flash...\nReset to Flash Code...\nUpdate FW Success\n")
                                 .arg(QString::fromStdString(sampleImagePath()))
                                 .arg(image.size());
    EXPECT_EQ(paneText(), expected);
    EXPECT_EQ(paneColour(), kBlue);
    EXPECT_EQ(window().updateBox().slider->value(), 100);
    const std::vector<std::uint8_t> flash = hub().flashContents();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(dialogs_.alerts.empty());
}

// The window's easy update keeps the flash it erases, as the command line does,
// and its pane shows no line for it.
TEST_F(WorkflowTest, EasyUpdateKeepsABackupOfTheFlashItErases) {
    launch(WindowSetup().withBackups());
    const std::vector<std::uint8_t> before = hub().flashContents();
    chooseEasyUpdateImage(sampleImagePath());
    window().easyUpdateBox().btnUpdate_EasyUpdate->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_TRUE(
        paneText().endsWith("Erase Flash...\nWrite Flash...\nRead Flash...\nVerify Flash...\n"
                            "Reset to Flash Code...\nUpdate FW Success\n"))
        << paneText().toStdString();

    const backups::BackupStore store(backupsFolder(), FolderCreation::MustExist, RunOrigin::Simulated);
    std::string error;
    const auto entries = store.list(error);
    ASSERT_TRUE(entries) << error;
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ(entries->front().result, history::kResultSuccess);
    EXPECT_EQ(entries->front().origin, storedOrigin(RunOrigin::Simulated));
    EXPECT_EQ(entries->front().sha256, sha256Hex(before.data(), before.size()));
    EXPECT_EQ(store.load(entries->front().sha256, error), before) << error;
}

TEST_F(WorkflowTest, UpdateWithoutAnImageSaysWrongFirmwareFileInRed) {
    launch();
    window().easyUpdateBox().btnUpdate_EasyUpdate->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_EQ(paneText(), "FW:(size=0)\n\nWrong firmware file\nUpdate FW Fail\n");
    EXPECT_EQ(paneColour(), kRed);
}

TEST_F(WorkflowTest, ChoosingAFileWithoutConfigurationBlockAlertsAndKeepsTheFields) {
    launch();
    chooseEasyUpdateImage(sampleImagePath());
    chooseEasyUpdateImage(writeFile("blank.bin", std::vector<std::uint8_t>(4096, 0xFF)));
    EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{"Firmware format error\n"}));
    EXPECT_EQ(window().easyUpdateBox().txtVID_EasyUpdate->text(), "2FE3");
}

struct FailureRow {
    const char* name;
    const char* scenario;
    sim::HubFaults faults;
    QString redLines;  // the failure message and the closing line
    int slider;
};

void PrintTo(const FailureRow& row, std::ostream* out) {
    *out << row.name;
}

class UpdateFailure : public WorkflowTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(UpdateFailure, EndsWithItsRedLinesAndTheButtonsOn) {
    const FailureRow& row = GetParam();
    launch(WindowSetup().withScenario(row.scenario));
    if (sim::SimulatedHub* simulated = row.scenario == std::string("no-hub") ? nullptr : &hub()) {
        simulated->setFaults(row.faults);
    }
    chooseEasyUpdateImage(sampleImagePath());
    window().easyUpdateBox().btnUpdate_EasyUpdate->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_TRUE(paneText().endsWith(row.redLines)) << paneText().toStdString();
    EXPECT_EQ(paneColour(), kRed);
    EXPECT_EQ(window().updateBox().slider->value(), row.slider);
}

sim::HubFaults failing(sim::RequestKind kind, int count = 1000) {
    sim::HubFaults faults;
    faults.failures.push_back({kind, count, sim::Outcome::Stalled});
    return faults;
}

sim::HubFaults corruptRead() {
    sim::HubFaults faults;
    faults.corruptReadAddress = 0x1001;
    return faults;
}

sim::HubFaults neverReturns() {
    sim::HubFaults faults;
    faults.neverReturnsAfterReset = true;
    return faults;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UpdateFailure,
    ::testing::Values(
        FailureRow{"NoHub",
                   "no-hub",
                   {},
                   "Fail To Open Rom Device\nPlease Load Driver firstly\nThen replugin usb hub device\n"
                   "Update FW Fail\n",
                   0},
        FailureRow{"Erase", "rom-code", failing(sim::RequestKind::EraseFlash),
                   "Erase Flash...\nFail to Erase Flash\nUpdate FW Fail\nTo bring the hub back: velmora-cli "
                   "recover\n",
                   0},
        FailureRow{"Write", "rom-code", failing(sim::RequestKind::WriteFlash),
                   "Write Flash...\nFail to Write Flash\nUpdate FW Fail\nTo bring the hub back: velmora-cli "
                   "recover\n",
                   10},
        FailureRow{
            "Read", "rom-code", failing(sim::RequestKind::ReadFlash),
            "Read Flash...\nFail to Read Flash\nUpdate FW Fail\nTo bring the hub back: velmora-cli recover\n",
            50},
        FailureRow{"Verify", "rom-code", corruptRead(),
                   "Verify Flash...\nFail to verify flash\nUpdate FW Fail\nTo bring the hub back: "
                   "velmora-cli recover\n",
                   90},
        FailureRow{"Reset", "rom-code", neverReturns(),
                   "Reset to Flash Code...\nFail to Reset to Flash Code\nUpdate FW Fail\nTo bring the hub "
                   "back: velmora-cli recover\n",
                   100}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

TEST_F(WorkflowTest, FlashReadFillsThePageAndLeavesTheSliderAt0) {
    launch();
    pressAndCheckButtonsOff(window().flashBox().btnRead_FwFlash);
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_EQ(paneText(), "Open Device...\nReading Flash...\nReset to Flash Code...\nRead Fw Success\n");
    EXPECT_EQ(paneColour(), kBlue);
    EXPECT_EQ(window().updateBox().slider->value(), 0);
    EXPECT_EQ(window().flashBox().txtVID_FwFlash->text(), "2FE3");
    EXPECT_EQ(window().flashBox().txtSSPID_FwFlash->text(), "0611");
    EXPECT_EQ(window().flashBox().txtHSPID_FwFlash->text(), "0610");
    EXPECT_FALSE(window().flashBox().txtManu_FwFlash->text().isEmpty());
    EXPECT_FALSE(window().flashBox().txtContainerID_FwFlash->text().isEmpty());
    // Page 0 of the shipped chip definition, values read from the image.
    EXPECT_GT(window().detailBox().tableView_Detail->model()->rowCount(), 0);
    EXPECT_TRUE(window().detailBox().txtViewBin_Detail->toPlainText().contains("h:"));
    EXPECT_TRUE(consoleHas("selected value:SSC"));
}

TEST_F(WorkflowTest, FlashReadOfABlankFlashShowsErrInTheVidField) {
    launch(WindowSetup().withScenario("rom-code"));
    hub().loadFlashImage(std::vector<std::uint8_t>(32768, 0xFF));
    window().flashBox().btnRead_FwFlash->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_TRUE(paneText().endsWith("Read Fw Success\n"));
    EXPECT_EQ(window().flashBox().txtVID_FwFlash->text(), "Err");
}

TEST_F(WorkflowTest, EraseErasesTheFlashAndLeavesThePageAlone) {
    launch();
    pressAndCheckButtonsOff(window().flashBox().btnErase_FwFlash);
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_EQ(paneText(), "Open Rom Device...\nErase Flash...\nReseting...\nErase FW Success\n");
    EXPECT_EQ(paneColour(), kBlue);
    EXPECT_EQ(window().updateBox().slider->value(), 0);
    for (std::uint8_t byte : hub().flashContents()) ASSERT_EQ(byte, 0xFF);
}

enum class PageButton { Read, Erase };

struct PageFailureRow {
    const char* name;
    PageButton button;
    const char* scenario;
    sim::HubFaults faults;
    QString redLines;
};

void PrintTo(const PageFailureRow& row, std::ostream* out) {
    *out << row.name;
}

class FlashPageFailure : public WorkflowTest, public ::testing::WithParamInterface<PageFailureRow> {};

TEST_P(FlashPageFailure, EndsWithItsRedLinesAndLeavesThePageAlone) {
    const PageFailureRow& row = GetParam();
    launch(WindowSetup().withScenario(row.scenario));
    if (row.scenario != std::string("no-hub")) hub().setFaults(row.faults);
    (row.button == PageButton::Read ? window().flashBox().btnRead_FwFlash
                                    : window().flashBox().btnErase_FwFlash)
        ->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_TRUE(paneText().endsWith(row.redLines)) << paneText().toStdString();
    EXPECT_EQ(paneColour(), kRed);
    EXPECT_EQ(window().updateBox().slider->value(), 0);
    EXPECT_TRUE(window().flashBox().txtVID_FwFlash->text().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FlashPageFailure,
    ::testing::Values(
        PageFailureRow{"ReadOpen",
                       PageButton::Read,
                       "no-hub",
                       {},
                       "Fail to Open Rom Device\nPlease Load Driver firstly\nThen replugin usb hub device\n"
                       "Read Fw Fail\n"},
        PageFailureRow{"ReadRequest", PageButton::Read, "flash-code", failing(sim::RequestKind::ReadFlash),
                       "Reading Flash...\nFail to Read Flash\nRead Fw Fail\n"},
        PageFailureRow{"ReadReset", PageButton::Read, "rom-code", neverReturns(),
                       "Reset to Flash Code...\nFail to Reset to Flash Code\nRead Fw Fail\n"},
        PageFailureRow{"EraseOpen",
                       PageButton::Erase,
                       "no-hub",
                       {},
                       "Open Rom Device...\nFail to Open Rom Device\nErase FW Fail\n"},
        PageFailureRow{"EraseRequest", PageButton::Erase, "flash-code", failing(sim::RequestKind::EraseFlash),
                       "Erase Flash...\nFail to Erase flash\nErase FW Fail\nTo bring the hub back: "
                       "velmora-cli recover\n"},
        PageFailureRow{"EraseReset", PageButton::Erase, "rom-code", neverReturns(),
                       "Reseting...\nFail to Reset Flash & Wait\nErase FW Fail\nTo bring the hub back: "
                       "velmora-cli recover\n"}),
    [](const ::testing::TestParamInfo<PageFailureRow>& info) { return std::string(info.param.name); });

TEST_F(WorkflowTest, LoadFillsTheFieldsAndSaveWritesTheEditedImage) {
    launch();
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().flashBox().btnLoad_FwFlash->click();
    EXPECT_EQ(window().flashBox().txtVID_FwFlash->text(), "2FE3");
    EXPECT_GT(window().detailBox().tableView_Detail->model()->rowCount(), 0);

    window().flashBox().txtVID_FwFlash->setText("1a2b");
    window().flashBox().txtManu_FwFlash->setText("Maker");
    const std::string saved = (folder() / "saved.bin").string();
    dialogs_.saveAnswer = QString::fromStdString(saved);
    window().flashBox().btnSave_FwFlash->click();
    EXPECT_TRUE(dialogs_.alerts.empty());
    const std::vector<std::uint8_t> original = readBytes(sampleImagePath());
    const std::vector<std::uint8_t> written = readBytes(saved);
    ASSERT_EQ(written.size(), original.size());
    // The VID went in as the bytes 1A 2B at its place in the configuration block.
    std::size_t differing = 0;
    for (std::size_t index = 0; index < written.size(); ++index)
        differing += written[index] != original[index];
    EXPECT_GT(differing, 0u);
    const std::size_t block = written.size() - 256;
    EXPECT_EQ(written[block + 2], 0x1A);
    EXPECT_EQ(written[block + 3], 0x2B);
}

TEST_F(WorkflowTest, CancelledLoadReselectsTheFirstPageAndARowShowsItsDescription) {
    launch();
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().flashBox().btnLoad_FwFlash->click();
    window().detailBox().cbPages->setCurrentIndex(2);
    EXPECT_TRUE(consoleHas("selected value:System"));
    window().flashBox().btnLoad_FwFlash->click();  // no answer queued: the panel is cancelled
    EXPECT_EQ(window().detailBox().cbPages->currentText(), "SSC");
    ASSERT_GT(window().detailBox().tableView_Detail->model()->rowCount(), 0);
    window().detailBox().tableView_Detail->selectRow(0);
    EXPECT_TRUE(window().detailBox().txtViewDesc_Detail->toPlainText().contains(" : "))
        << window().detailBox().txtViewDesc_Detail->toPlainText().toStdString();
}

TEST_F(WorkflowTest, SaveRefusesFieldsOfTheWrongLength) {
    launch();
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().flashBox().btnLoad_FwFlash->click();
    window().flashBox().txtVID_FwFlash->setText("1a2");
    dialogs_.saveAnswer = QString::fromStdString((folder() / "never.bin").string());
    window().flashBox().btnSave_FwFlash->click();
    EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{"Data Length Error"}));
    EXPECT_FALSE(std::filesystem::exists(folder() / "never.bin"));
}

TEST_F(WorkflowTest, SaveWithoutAnImageSaysNoFlashData) {
    launch();
    window().flashBox().btnSave_FwFlash->click();
    EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{"No Flash Data"}));
}

TEST_F(WorkflowTest, LoadOfAFileWithoutBlockEmptiesTheTableAndAlerts) {
    launch();
    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().flashBox().btnLoad_FwFlash->click();
    dialogs_.openAnswers.push_back(
        QString::fromStdString(writeFile("blank.bin", std::vector<std::uint8_t>(512))));
    window().flashBox().btnLoad_FwFlash->click();
    EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{"Firmware format error\n"}));
    EXPECT_EQ(window().detailBox().tableView_Detail->model()->rowCount(), 0);
    EXPECT_EQ(window().detailBox().txtViewBin_Detail->toPlainText(), "Binary Data\n");
}

TEST_F(WorkflowTest, ScalarRunAtLaunchWithoutImageFailsAndStaysOpen) {
    launch();
    EXPECT_EQ(paneText(), "FW:(size=0)\n\nWrong firmware file\nUpdate FW Fail\n");
    EXPECT_EQ(paneColour(), kRed);
    EXPECT_TRUE(quits_.empty());
}

TEST_F(WorkflowTest, ScalarStationWritesItsImageAndQuits) {
    launch(WindowSetup().withScenario("rom-code").withScalarMode(1).withFwBin("sample-update.bin"));
    EXPECT_TRUE(paneText().endsWith("Update FW Success\n")) << paneText().toStdString();
    EXPECT_TRUE(paneText().startsWith("FW:sample-update.bin(size="));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !quits_.empty(); }, kPatienceMs));
    EXPECT_EQ(quits_, std::vector<int>{0});
}

TEST_F(WorkflowTest, GetLogStaysOnDuringARunAndReplacesAnOlderDesktopCopy) {
    launch();
    std::filesystem::create_directories(folder() / "Desktop");
    std::ofstream(folder() / "Desktop/Velmora.log") << "old\n";
    // The button set leaves "Get Log" on while a workflow runs.
    window().SetButtonStatus(false);
    EXPECT_FALSE(anyButtonEnabled());
    ASSERT_TRUE(window().helpBox().btnGetLog_HelpBox->isEnabled());
    window().helpBox().btnGetLog_HelpBox->click();
    std::ifstream copy(folder() / "Desktop/Velmora.log");
    std::string text((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
    std::ifstream log(folder() / "Velmora.log");
    std::string logText((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, logText);
    EXPECT_NE(text, "old\n");
}

}  // namespace
}  // namespace velmora::testing
