#pragma once
// The help box: the driver buttons, the help text and "Get Log". The privileged
// scripts run on an update worker, so the password prompt and the hub reset after
// an unload (which can wait tens of seconds for the hub) never hold the window.
#include <string>
#include <vector>

#include "driver_install/DriverInstaller.h"
#include "window/BoxServices.h"

class QGroupBox;
class QPushButton;

namespace velmora::window {

class HelpBox {
public:
    // Fills box (already titled and placed) with its controls. needSignDriver:
    // whether a driver load may need a restart, as the launch sequence found.
    HelpBox(QGroupBox& frame, const BoxServices& services, const bool& needSignDriver);

    void LoadUpdateDriver();
    void UnloadUpdateDriver();
    void GetLog();

    QGroupBox* box;
    QPushButton* nsbtnLoadDriver_HelpBox = nullptr;
    QPushButton* nsbtnUnloadDriver_HelpBox = nullptr;
    QPushButton* btnGetLog_HelpBox = nullptr;

private:
    driver::DriverActions driverActions();
    void reportDriverOutcome(const std::vector<std::string>& lines, bool succeeded);

    const BoxServices& services_;
    const bool& needSignDriver_;
};

}  // namespace velmora::window
