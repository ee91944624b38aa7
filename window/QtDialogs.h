#pragma once
// The window's dialogs on the desktop: Qt's file panels and message boxes.
#include "window/WindowEnvironment.h"

namespace velmora::window {

class QtDialogs final : public WindowDialogs {
public:
    std::optional<QString> chooseOpenFile(QWidget* parent) override;
    std::optional<QString> chooseSavePath(QWidget* parent) override;
    void alert(QWidget* parent, const QString& text) override;
    driver::RestartAnswer askRestart(QWidget* parent, const QString& message) override;
    CloseAnswer askCloseDuringFlash(QWidget* parent) override;
    bool confirmAbandon(QWidget* parent, const QString& ports) override;
    StationCloseAnswer askCloseStation(QWidget* parent, const QString& ports) override;
};

}  // namespace velmora::window
