#pragma once
// The flash box: the identity fields of the flash page's image as editors, and
// the image read from the hub, loaded from a file, saved, or the flash erased.
// The image itself is shown by the detail box, which this box redraws.
#include <functional>

#include "window/BoxServices.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
struct IdentityEditResult;
struct IdentityTexts;
enum class IdentityField;

namespace velmora::window {

class DetailBox;

class FlashBox {
public:
    // Fills box (already titled and placed) with its controls; detail shows the page.
    FlashBox(QGroupBox& frame, const BoxServices& services, DetailBox& detail);

    // Read and erase turn the button set off, then run on a worker.
    void read_FwFlash();
    void load_FwFlash();
    void erase_FwFlash();
    void save_FwFlash();
    // Runs storeFlashContents, then redraws the flash page (GUI thread).
    void readFinished_FwFlash(const std::function<void()>& storeFlashContents);

    // The identity fields' edits, one call per keystroke (GUI thread). Without an
    // image the field is emptied and "No Flash Data" follows.
    void controlTextDidChange(QLineEdit* field);
    void VID_HSPID_SSPID_Changed_FwFlash(QLineEdit* field);
    void textDidChange_ManuProSN(QLineEdit* field);
    // The fields from the image.
    void UpdateTxt_FwFlash();

    QGroupBox* box;
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

private:
    void connectIdentityFields();
    // The texts as the fields hold them, which field is which, and the fields,
    // view, table and alert after an edit.
    IdentityTexts identityFieldTexts() const;
    IdentityField identityFieldOf(const QLineEdit* field) const;
    void showIdentityEdit(const IdentityEditResult& result);

    const BoxServices& services_;
    DetailBox& detail_;
};

}  // namespace velmora::window
