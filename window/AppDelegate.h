#pragma once
// The one window: the six boxes of its layout, the status output every workflow
// reports through and the detection of the hub. It only adapts the core: the
// workflows, the detection, the property model and the driver installer decide
// everything, and run off the GUI thread wherever they talk to the hub.
//
// Each box is a class of its own that builds, holds and handles its controls
// (HelpBox, ScalarBox, UpdateBox, EasyUpdateBox, FlashBox, DetailBox); this class
// places the boxes, keeps the operations the workflows and the launch call by
// their established names, and hands each to its box.
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "detection/HubDetection.h"
#include "environment/StationSetup.h"
#include "window/BoxServices.h"
#include "window/WindowEnvironment.h"
#include "window/WorkerThreads.h"

class QAction;
class QCloseEvent;
class QLineEdit;
class QPushButton;
class QTimer;

namespace velmora::window {

class DetailBox;
class EasyUpdateBox;
class FlashBox;
class HelpBox;
class HubDetectionService;
class ScalarBox;
class StationView;
class UpdateBox;
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
    // The scalar run that every launch starts in the background, once the launch
    // detections have ended.
    void startScalarRunAtLaunch();
    // Waits for running workers and stops detection: before the session goes away.
    void shutDown();
    // Replaces the boxes with the station view and starts the station. Empty,
    // or the line saying why the image or the station's set-up was refused.
    std::string openStation(const StationRequest& request);
    // The station view once opened, else null.
    StationView* stationView() { return stationView_; }

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

    // The identity fields' edits (the flash box's).
    void controlTextDidChange(QLineEdit* field);
    void VID_HSPID_SSPID_Changed_FwFlash(QLineEdit* field);
    void textDidChange_ManuProSN(QLineEdit* field);
    // Runs storeFlashContents, then redraws the flash page (GUI thread).
    void readFinished_FwFlash(const std::function<void()>& storeFlashContents);

    WindowSession& session() { return session_; }
    HubDetectionService& detection() { return *detection_; }
    WorkerThreads& workers() { return workers_; }
    // Whether a driver load may need a restart: set by the launch sequence.
    bool needSignDriver = false;

    // The boxes, each holding its own controls; built by MyLayoutUI.
    HelpBox& helpBox() { return *helpBox_; }
    ScalarBox& scalarBox() { return *scalarBox_; }
    UpdateBox& updateBox() { return *updateBox_; }
    EasyUpdateBox& easyUpdateBox() { return *easyUpdateBox_; }
    FlashBox& flashBox() { return *flashBox_; }
    DetailBox& detailBox() { return *detailBox_; }

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
    // The menu's "Station...": asks for the image, then opens the station view.
    void chooseStationImage();

protected:
    // While an update writes a hub's flash the window stays: it asks, and closes
    // once the write is done if the user says so.
    void closeEvent(QCloseEvent* event) override;

private:
    // The ten buttons SetButtonStatus switches, in the order it switches them.
    std::vector<QPushButton*> buttonSet() const;
    // A run of this window is in its flash span (the host is held off the hub).
    bool writingFlash() const;
    // The station's run ended (GUI thread).
    void stationEnded(StationEnd end);
    // A close while the station runs: asks, and stops or abandons it first.
    // True when the window may close now.
    bool stationAllowsClose();

    WindowSession& session_;
    WindowEnvironment& environment_;
    std::unique_ptr<WindowReporter> reporter_;
    std::unique_ptr<HubDetectionService> detection_;
    WorkerThreads workers_;
    std::optional<BoxServices> services_;
    std::unique_ptr<HelpBox> helpBox_;
    std::unique_ptr<ScalarBox> scalarBox_;
    std::unique_ptr<UpdateBox> updateBox_;
    std::unique_ptr<EasyUpdateBox> easyUpdateBox_;
    std::unique_ptr<DetailBox> detailBox_;
    std::unique_ptr<FlashBox> flashBox_;
    std::vector<QPushButton*> buttonSet_;
    bool shutDown_ = false;
    bool askingToClose_ = false;
    StationView* stationView_ = nullptr;  // the central widget once the station view is open
    QWidget* ordinaryContent_ = nullptr;  // the boxes' content while the station view replaces it
    bool closeWhenStationEnds_ = false;
    QAction* stationMenu_ = nullptr;  // "Station...", off once the view is open
    QTimer* closeWhenDone_;           // runs while a close waits for the flash write to end
};

}  // namespace velmora::window
