// The flash page's identity fields as editors: every keystroke goes through the
// core's edit rules into the flash-page buffer, and the fields then show what the
// rules left of the texts (cut back, or emptied without an image).
//
// No edit can meet a half-built image: edits are held off, not locked out. A
// flash read parses its image into the flash-page buffer inside a call its worker
// hands to the GUI thread (readFinished_FwFlash), so the parse and every edit run
// on the same thread, one after the other. An edit runs to its end before that
// call can run, because the edit handlers (these fields, the table's pop-ups, the
// chip-type list) open no dialog while they work: the alert an edit raises is shown
// once the edit has returned, and whatever a dialog's event loop lets in then meets
// a finished edit and a whole image.
#include <QLineEdit>
#include <QMetaObject>
#include <algorithm>
#include <array>

#include "editor/DescriptorFields.h"
#include "window/AppDelegate.h"
#include "window/TableViewController.h"
#include "window/WindowSession.h"

namespace velmora::window {
namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

// Sets a field's text where it differs, keeping the cursor where the user typed
// (or at the end of what is left).
void showText(QLineEdit* field, const std::string& text) {
    const QString shown = fromUtf8(text);
    if (field->text() == shown) return;
    const int cursor = field->cursorPosition();
    field->setText(shown);
    field->setCursorPosition(std::min(cursor, static_cast<int>(shown.size())));
}

}  // namespace

void AppDelegate::connectIdentityFields() {
    for (QLineEdit* field : {txtVID_FwFlash, txtSSPID_FwFlash, txtHSPID_FwFlash, txtManu_FwFlash,
                             txtPro_FwFlash, txtSN_FwFlash, txtContainerID_FwFlash}) {
        // textEdited, not textChanged: the fields' refills from the buffer are no edits.
        connect(field, &QLineEdit::textEdited, this, [this, field] { controlTextDidChange(field); });
    }
}

void AppDelegate::controlTextDidChange(QLineEdit* field) {
    session_.console().line(field->text().toStdString());
    if (field == txtVID_FwFlash || field == txtSSPID_FwFlash || field == txtHSPID_FwFlash) {
        VID_HSPID_SSPID_Changed_FwFlash(field);
    } else if (field == txtManu_FwFlash || field == txtPro_FwFlash || field == txtSN_FwFlash ||
               field == txtContainerID_FwFlash) {
        textDidChange_ManuProSN(field);
    }
}

void AppDelegate::VID_HSPID_SSPID_Changed_FwFlash(QLineEdit* field) {
    showIdentityEdit(applyIdEdit(session_.buffers().flashPage, identityFieldTexts(), identityFieldOf(field),
                                 session_.console()));
}

void AppDelegate::textDidChange_ManuProSN(QLineEdit* field) {
    showIdentityEdit(applyStringsEdit(session_.buffers().flashPage, identityFieldTexts(),
                                      identityFieldOf(field), session_.console()));
}

IdentityTexts AppDelegate::identityFieldTexts() const {
    IdentityTexts texts;
    texts.vid = txtVID_FwFlash->text().toStdString();
    texts.sspid = txtSSPID_FwFlash->text().toStdString();
    texts.hspid = txtHSPID_FwFlash->text().toStdString();
    texts.version = txtVer_FwFlash->text().toStdString();
    texts.manufacturer = txtManu_FwFlash->text().toStdString();
    texts.product = txtPro_FwFlash->text().toStdString();
    texts.serial = txtSN_FwFlash->text().toStdString();
    texts.containerId = txtContainerID_FwFlash->text().toStdString();
    return texts;
}

IdentityField AppDelegate::identityFieldOf(const QLineEdit* field) const {
    const std::array<std::pair<const QLineEdit*, IdentityField>, 8> fields = {{
        {txtVID_FwFlash, IdentityField::Vid},
        {txtSSPID_FwFlash, IdentityField::Sspid},
        {txtHSPID_FwFlash, IdentityField::Hspid},
        {txtVer_FwFlash, IdentityField::Version},
        {txtManu_FwFlash, IdentityField::Manufacturer},
        {txtPro_FwFlash, IdentityField::Product},
        {txtSN_FwFlash, IdentityField::Serial},
        {txtContainerID_FwFlash, IdentityField::ContainerId},
    }};
    for (const auto& [each, which] : fields) {
        if (each == field) return which;
    }
    return IdentityField::Version;
}

void AppDelegate::showIdentityEdit(const IdentityEditResult& result) {
    const IdentityTexts& texts = result.texts;
    showText(txtVID_FwFlash, texts.vid);
    showText(txtSSPID_FwFlash, texts.sspid);
    showText(txtHSPID_FwFlash, texts.hspid);
    showText(txtManu_FwFlash, texts.manufacturer);
    showText(txtPro_FwFlash, texts.product);
    showText(txtSN_FwFlash, texts.serial);
    showText(txtContainerID_FwFlash, texts.containerId);
    if (result.stored) {
        ShowBinary(result.highlightBegin, result.highlightEnd);
        tbViewController->reloadData();
    }
    if (result.alert) alertAfterEdit(*result.alert);
}

void AppDelegate::alertAfterEdit(const std::string& text) {
    QMetaObject::invokeMethod(
        this, [this, message = fromUtf8(text)] { showAlert(message); }, Qt::QueuedConnection);
}

void AppDelegate::optionChosen_Detail(const editor::OptionResult& result) {
    switch (result.outcome) {
        case editor::OptionOutcome::Changed: ShowBinary(result.highlightBegin, result.highlightEnd); break;
        case editor::OptionOutcome::NotEditable:
            // After the alert the pop-up shows the stored value again.
            QMetaObject::invokeMethod(
                this,
                [this, message = fromUtf8(result.alertText)] {
                    showAlert(message);
                    tbViewController->reloadData();
                },
                Qt::QueuedConnection);
            break;
        case editor::OptionOutcome::NotLoaded:
        case editor::OptionOutcome::NoSuchRow:
        case editor::OptionOutcome::NoSuchOption: break;
    }
}

}  // namespace velmora::window
