#pragma once
// The easy-update box: an image chosen from a file, its identity shown in the
// display fields, and the update that writes it to the hub.
#include "window/BoxServices.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace velmora::window {

class EasyUpdateBox {
public:
    // Fills box (already titled and placed) with its controls.
    EasyUpdateBox(QGroupBox& frame, const BoxServices& services);

    void chooseFw_EasyUpdate();
    // Turns the button set off, then runs the update on a worker.
    void updateFw_EasyUpdate();

    QGroupBox* box;
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

private:
    const BoxServices& services_;
};

}  // namespace velmora::window
