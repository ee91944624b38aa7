#pragma once
// The update box: the hub info field that detection writes, the status pane every
// workflow reports to and the progress slider. It needs nothing of the session,
// so it is built and tested on its own.
#include <QString>

#include "detection/HubDetection.h"

class QGroupBox;
class QPlainTextEdit;
class QSlider;
class QTextEdit;

namespace velmora::window {

class UpdateBox {
public:
    // Fills box (already titled and placed) with its controls.
    explicit UpdateBox(QGroupBox& frame);

    // Status output (GUI thread). An append adds the text and colours the whole
    // pane: every earlier line takes the colour of the last one.
    void resetProgressInfo();
    void appendProgressInfo_Blue(const QString& text);
    void appendProgressInfo_Red(const QString& text);
    void updateProgressBar(double value);
    void showHubInfo(const HubInfo& info);

    QGroupBox* box;
    QPlainTextEdit* nstfHubInfo_UpdateFW = nullptr;
    QTextEdit* nstfUpdateInfo_UpdateFW = nullptr;
    QSlider* slider = nullptr;

private:
    void append(const QString& text, Qt::GlobalColor colour);
};

}  // namespace velmora::window
