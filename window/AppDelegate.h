#pragma once
// The one window: its controls, the status output every workflow reports
// through, the workflow buttons, the flash page's display and the driver
// buttons. It only adapts the core: the workflows, the detection, the property
// model and the driver installer decide everything, and run off the GUI thread
// wherever they talk to the hub.
#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "detection/DetectionScheduler.h"
#include "detection/HubDetection.h"
#include "driver_install/DriverInstaller.h"
#include "editor/DefinitionChoices.h"
#include "window/WindowEnvironment.h"
#include "window/WorkerThreads.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTableView;
class QTextEdit;
struct IdentityEditResult;
struct IdentityTexts;
enum class IdentityField;

namespace velmora {
struct WorkflowContext;
}

namespace velmora::editor {
struct OptionResult;
}

namespace velmora::window {

class HubDetectionService;
class TableViewController;
class WindowReporter;
class WindowSession;

class AppDelegate : public QMainWindow {
    Q_OBJECT

public:
    AppDelegate(WindowSession& session, WindowEnvironment& environment);
    ~AppDelegate() override;

    // Builds every box and control; once, at launch, after the configuration was read.
    void MyLayoutUI();
    // Starts watching the bus; detection runs twice at once.
    void RegisterNotifycation();
    // The scalar run that every launch starts in the background.
    void startScalarRunAtLaunch();
    // Waits for running workers and stops detection: before the session goes away.
    void shutDown();

    // Status output (GUI thread).
    void SetButtonStatus(bool enabled);
    void updateProgressBar(double value);
    void resetProgressInfo();
    void appendProgressInfo_Blue(const QString& text);
    void appendProgressInfo_Red(const QString& text);
    void showAlert(const QString& text);
    void showHubInfo(const HubInfo& info);
    // Once per run of the program, when the history cannot be written.
    void showHistoryProblem(const QString& text);

    // The identity fields' edits, one call per keystroke (GUI thread). Without an
    // image the field is emptied and "No Flash Data" follows.
    void controlTextDidChange(QLineEdit* field);
    void VID_HSPID_SSPID_Changed_FwFlash(QLineEdit* field);
    void textDidChange_ManuProSN(QLineEdit* field);

    // Runs storeFlashContents, then redraws the flash page (GUI thread).
    void readFinished_FwFlash(const std::function<void()>& storeFlashContents);

    WindowSession& session() { return session_; }
    HubDetectionService& detection() { return *detection_; }
    WorkerThreads& workers() { return workers_; }
    TableViewController* tbViewController = nullptr;
    // Whether a driver load may need a restart: set by the launch sequence.
    bool needSignDriver = false;
    const std::vector<editor::DefinitionChoice>& definitionChoices() const { return definitionChoices_; }

    // The controls, named by kind, role and box.
    QPlainTextEdit* nstfHubInfo_UpdateFW = nullptr;
    QTextEdit* nstfUpdateInfo_UpdateFW = nullptr;
    QPushButton* nsbtnLoadDriver_HelpBox = nullptr;
    QPushButton* nsbtnUnloadDriver_HelpBox = nullptr;
    QPushButton* btnGetLog_HelpBox = nullptr;
    QSlider* slider = nullptr;
    QLineEdit* nstextfd_Scalar = nullptr;
    QPushButton* nsbtnSelect_Scalar = nullptr;
    QPushButton* nsbtnUpdate_Scalar = nullptr;
    QLineEdit* txtVID_EasyUpdate = nullptr;
    QLineEdit* txtSSPID_EasyUpdate = nullptr;
    QLineEdit* txtHSPID_EasyUpdate = nullptr;
    QLineEdit* txtVer_EasyUpdate = nullptr;
    QLineEdit* txtManu_EasyUpdate = nullptr;
    QLineEdit* txtPro_EasyUpdate = nullptr;
    QLineEdit* txtSN_EasyUpdate = nullptr;
    QLineEdit* txtFw_EasyUpdate = nullptr;
    QPushButton* btnSelect_EasyUpdate = nullptr;
    QPushButton* btnUpdate_EasyUpdate = nullptr;
    QLineEdit* txtVID_FwFlash = nullptr;
    QLineEdit* txtSSPID_FwFlash = nullptr;
    QLineEdit* txtHSPID_FwFlash = nullptr;
    QLineEdit* txtVer_FwFlash = nullptr;
    QLineEdit* txtManu_FwFlash = nullptr;
    QLineEdit* txtPro_FwFlash = nullptr;
    QLineEdit* txtSN_FwFlash = nullptr;
    QLineEdit* txtContainerID_FwFlash = nullptr;
    QPushButton* btnRead_FwFlash = nullptr;
    QPushButton* btnLoad_FwFlash = nullptr;
    QPushButton* btnErase_FwFlash = nullptr;
    QPushButton* btnSave_FwFlash = nullptr;
    QComboBox* cbPages = nullptr;
    QComboBox* cbICType = nullptr;
    QTextEdit* txtViewDesc_Detail = nullptr;
    QTextEdit* txtViewBin_Detail = nullptr;
    QTableView* tableView_Detail = nullptr;

    // The boxes, for the final layout and for tests.
    QGroupBox* helpBox = nullptr;
    QGroupBox* scalarBox = nullptr;
    QGroupBox* updateBox = nullptr;
    QGroupBox* easyUpdateBox = nullptr;
    QGroupBox* flashBox = nullptr;
    QGroupBox* detailBox = nullptr;

public slots:
    // Help box.
    void LoadUpdateDriver();
    void UnloadUpdateDriver();
    void GetLog();
    // Scalar box.
    void chooseScalarUpdateFw();
    void MP_UpdateScalar();
    // Easy-update box.
    void chooseFw_EasyUpdate();
    void updateFw_EasyUpdate();
    // Flash box.
    void read_FwFlash();
    void load_FwFlash();
    void erase_FwFlash();
    void save_FwFlash();
    // Detail box.
    void ICTypeCombBox_SelectedChanged();
    void PageNameCombBox_SelectedChanged();

private:
    // Layout, one builder per box.
    void buildHelpBox();
    void buildScalarBox();
    void buildUpdateBox();
    void buildEasyUpdateBox();
    void buildFlashBox();
    void buildDetailBox();
    void fillDefinitionList();
    void connectComboBoxes();
    void connectIdentityFields();
    void connectPropertyTable();

    // Flash page display.
    void redrawFlashPage();
    void ShowBinary(std::uint32_t offsetBegin, std::uint32_t offsetEnd);
    void UpdateTxt_FwFlash();
    // The identity fields' edits: the texts as the fields hold them, which field is
    // which, and the fields, view, table and alert after an edit.
    IdentityTexts identityFieldTexts() const;
    IdentityField identityFieldOf(const QLineEdit* field) const;
    void showIdentityEdit(const IdentityEditResult& result);
    // An edit's alert, shown once the edit has returned (see IdentityFields.cpp).
    void alertAfterEdit(const std::string& text);
    // The outcome of an option chosen in the table.
    void optionChosen_Detail(const editor::OptionResult& result);
    std::string selectedDefinitionFolder() const;
    std::string selectedDefinition() const;

    void colourPane(Qt::GlobalColor colour);
    // The context every workflow run is handed: the reporter, the window's
    // connection and the detection scheduler.
    WorkflowContext workflowContext();
    void runDriverAction(std::function<void()> action);
    driver::DriverActions driverActions();
    void reportDriverOutcome(const std::vector<std::string>& lines, bool succeeded);

    WindowSession& session_;
    WindowEnvironment& environment_;
    std::unique_ptr<WindowReporter> reporter_;
    std::unique_ptr<HubDetectionService> detection_;
    std::vector<editor::DefinitionChoice> definitionChoices_;
    WorkerThreads workers_;
    std::vector<QPushButton*> buttonSet_;
    bool shutDown_ = false;
};

}  // namespace velmora::window
