#pragma once
// The scalar box of a production station: the image named in the configuration
// (or chosen) and the mass-production update, which every launch also starts.
#include <functional>

#include "window/BoxServices.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace velmora::window {

class ScalarBox {
public:
    // Fills box (already titled and placed) with its controls.
    ScalarBox(QGroupBox& frame, const BoxServices& services);

    void chooseScalarUpdateFw();
    // Turns the button set off, then runs the update on a worker. An image the
    // rules refuse, or several hubs attached, is refused in an alert instead.
    void MP_UpdateScalar();
    // The run every launch starts: refusals go to the pane only, as no one may be
    // there to close an alert; the worker first runs waitFirst (the launch
    // detections ending).
    void runAtLaunch(std::function<void()> waitFirst);

    QGroupBox* box;
    QLineEdit* nstextfd_Scalar = nullptr;
    QPushButton* nsbtnSelect_Scalar = nullptr;
    QPushButton* nsbtnUpdate_Scalar = nullptr;

private:
    void startRun(bool attended, std::function<void()> waitFirst);

    const BoxServices& services_;
};

}  // namespace velmora::window
