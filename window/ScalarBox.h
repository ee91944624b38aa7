#pragma once
// The scalar box of a production station: the image named in the configuration
// (or chosen) and the mass-production update, which every launch also starts.
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
    // Turns the button set off, then runs the update on a worker.
    void MP_UpdateScalar();

    QGroupBox* box;
    QLineEdit* nstextfd_Scalar = nullptr;
    QPushButton* nsbtnSelect_Scalar = nullptr;
    QPushButton* nsbtnUpdate_Scalar = nullptr;

private:
    const BoxServices& services_;
};

}  // namespace velmora::window
