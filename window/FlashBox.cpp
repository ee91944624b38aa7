// The identity fields are editors: every keystroke goes through the core's edit
// rules into the flash-page buffer, and the fields then show what the rules left
// of the texts (cut back, or emptied without an image).
//
// No edit can meet a half-built image: edits are held off, not locked out. A
// flash read parses its image into the flash-page buffer inside a call its worker
// hands to the GUI thread (readFinished_FwFlash), so the parse and every edit run
// on the same thread, one after the other. An edit runs to its end before that
// call can run, because the edit handlers (these fields, the table's pop-ups, the
// chip-type list) open no dialog while they work: the alert an edit raises is shown
// once the edit has returned, and whatever a dialog's event loop lets in then meets
// a finished edit and a whole image.
#include "window/FlashBox.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <iostream>
#include <optional>

#include "editor/DescriptorFields.h"
#include "window/ControlFactory.h"
#include "window/DetailBox.h"
#include "window/TableViewController.h"
#include "window/WindowEnvironment.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "window/WindowTexts.h"
#include "window/WorkerThreads.h"
#include "workflows/FlashPage.h"
#include "workflows/FlashPageSave.h"
#include "workflows/WorkflowMessages.h"

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

FlashBox::FlashBox(QGroupBox& frame, const BoxServices& services, DetailBox& detail)
    : box(&frame), services_(services), detail_(detail) {
    QWidget* area = makeContentArea(box);
    makeLabel(area, "VID", {0, 220, 30, 20});
    makeLabel(area, "SSPID", {100, 220, 50, 20});
    makeLabel(area, "HSPID", {200, 220, 50, 20});
    makeLabel(area, "ver", {250, 200, 30, 20});
    makeLabel(area, "Manufacturer", {0, 175, 100, 20});
    makeLabel(area, "Product", {0, 150, 100, 20});
    makeLabel(area, "Serial Number", {0, 125, 100, 20});
    makeLabel(area, "Container ID", {0, 100, 100, 20});
    txtVID_FwFlash = makeEntryField(area, {29, 220, 44, 20});
    txtSSPID_FwFlash = makeEntryField(area, {143, 220, 44, 20});
    txtHSPID_FwFlash = makeEntryField(area, {243, 220, 44, 20});
    txtVer_FwFlash = makeDisplayField(area, {273, 197, 44, 20});
    txtManu_FwFlash = makeEntryField(area, {103, 175, 200, 20});
    txtPro_FwFlash = makeEntryField(area, {103, 150, 200, 20});
    txtSN_FwFlash = makeEntryField(area, {103, 125, 200, 20});
    txtContainerID_FwFlash = makeEntryField(area, {0, 80, 303, 20});
    btnRead_FwFlash = makeButton(area, texts::kReadFromFlash, {10, 50, 130, 20});
    btnLoad_FwFlash = makeButton(area, texts::kLoadFromBin, {10, 25, 130, 20});
    btnErase_FwFlash = makeButton(area, texts::kEraseFlash, {10, 0, 130, 20});
    btnSave_FwFlash = makeButton(area, texts::kSaveToBin, {200, 37.5, 120, 20});
    QObject::connect(btnRead_FwFlash, &QPushButton::clicked, box, [this] { read_FwFlash(); });
    QObject::connect(btnLoad_FwFlash, &QPushButton::clicked, box, [this] { load_FwFlash(); });
    QObject::connect(btnErase_FwFlash, &QPushButton::clicked, box, [this] { erase_FwFlash(); });
    QObject::connect(btnSave_FwFlash, &QPushButton::clicked, box, [this] { save_FwFlash(); });
    connectIdentityFields();
    detail_.pageShown = [this] { UpdateTxt_FwFlash(); };
}

void FlashBox::read_FwFlash() {
    if (!services_.admit(services_.plan("Read From Flash"))) return;
    beginWorkflow(services_.reporter);
    services_.workers.start(
        [this] { readFunc_FwFlash(services_.workflowContext(), services_.session.buffers().flashPage); });
}

void FlashBox::erase_FwFlash() {
    RunPlan plan = services_.plan("Erase Flash");
    plan.bytes.source = BytesSource::Erased;
    if (!services_.admit(plan)) return;
    beginWorkflow(services_.reporter);
    services_.workers.start([this] { eraseFunc_FwFlash(services_.workflowContext()); });
}

void FlashBox::readFinished_FwFlash(const std::function<void()>& storeFlashContents) {
    storeFlashContents();
    if (!services_.session.buffers().flashPage.loaded) {
        txtVID_FwFlash->setText(QString::fromLatin1(messages::kNoConfigurationBlockVid));
        return;
    }
    detail_.redrawFlashPage();
}

void FlashBox::load_FwFlash() {
    FirmwareBuffer& flashPage = services_.session.buffers().flashPage;
    if (const std::optional<QString> path = services_.environment.dialogs.chooseOpenFile(&services_.window)) {
        switch (velmora::load_FwFlash(flashPage, path->toStdString(), services_.reporter)) {
            case FlashPageLoad::Loaded: detail_.loadTable(); break;
            case FlashPageLoad::NoImage: detail_.showNoImage(); break;
            case FlashPageLoad::KeptEarlier: break;
        }
    }
    // Also after a cancelled panel: the first page, drawn from the buffer as it is.
    detail_.showFirstPage();
}

void FlashBox::save_FwFlash() {
    FlashPageFields fields;
    fields.vid = txtVID_FwFlash->text().toStdString();
    fields.sspid = txtSSPID_FwFlash->text().toStdString();
    fields.hspid = txtHSPID_FwFlash->text().toStdString();
    fields.version = txtVer_FwFlash->text().toStdString();
    fields.manufacturer = txtManu_FwFlash->text().toStdString();
    fields.product = txtPro_FwFlash->text().toStdString();
    fields.serial = txtSN_FwFlash->text().toStdString();
    FirmwareBuffer& flashPage = services_.session.buffers().flashPage;
    Console& console = services_.session.console();
    if (!velmora::save_FwFlash(flashPage, fields, services_.reporter, console, std::cout)) return;
    if (const std::optional<QString> path = services_.environment.dialogs.chooseSavePath(&services_.window)) {
        saveFinished_FwFlash(flashPage, path->toStdString(), services_.reporter, console);
    }
}

void FlashBox::UpdateTxt_FwFlash() {
    const std::optional<IdentityTexts> texts = ::UpdateTxt_FwFlash(services_.session.buffers().flashPage);
    if (!texts) return;
    txtVID_FwFlash->setText(fromUtf8(texts->vid));
    txtSSPID_FwFlash->setText(fromUtf8(texts->sspid));
    txtHSPID_FwFlash->setText(fromUtf8(texts->hspid));
    txtVer_FwFlash->setText(fromUtf8(texts->version));
    txtManu_FwFlash->setText(fromUtf8(texts->manufacturer));
    txtPro_FwFlash->setText(fromUtf8(texts->product));
    txtSN_FwFlash->setText(fromUtf8(texts->serial));
    txtContainerID_FwFlash->setText(fromUtf8(texts->containerId));
}

void FlashBox::connectIdentityFields() {
    for (QLineEdit* field : {txtVID_FwFlash, txtSSPID_FwFlash, txtHSPID_FwFlash, txtManu_FwFlash,
                             txtPro_FwFlash, txtSN_FwFlash, txtContainerID_FwFlash}) {
        // textEdited, not textChanged: the fields' refills from the buffer are no edits.
        QObject::connect(field, &QLineEdit::textEdited, box, [this, field] { controlTextDidChange(field); });
    }
}

void FlashBox::controlTextDidChange(QLineEdit* field) {
    services_.session.console().line(field->text().toStdString());
    if (field == txtVID_FwFlash || field == txtSSPID_FwFlash || field == txtHSPID_FwFlash) {
        VID_HSPID_SSPID_Changed_FwFlash(field);
    } else if (field == txtManu_FwFlash || field == txtPro_FwFlash || field == txtSN_FwFlash ||
               field == txtContainerID_FwFlash) {
        textDidChange_ManuProSN(field);
    }
}

void FlashBox::VID_HSPID_SSPID_Changed_FwFlash(QLineEdit* field) {
    showIdentityEdit(applyIdEdit(services_.session.buffers().flashPage, identityFieldTexts(),
                                 identityFieldOf(field), services_.session.console()));
}

void FlashBox::textDidChange_ManuProSN(QLineEdit* field) {
    showIdentityEdit(applyStringsEdit(services_.session.buffers().flashPage, identityFieldTexts(),
                                      identityFieldOf(field), services_.session.console()));
}

IdentityTexts FlashBox::identityFieldTexts() const {
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

IdentityField FlashBox::identityFieldOf(const QLineEdit* field) const {
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

void FlashBox::showIdentityEdit(const IdentityEditResult& result) {
    const IdentityTexts& texts = result.texts;
    showText(txtVID_FwFlash, texts.vid);
    showText(txtSSPID_FwFlash, texts.sspid);
    showText(txtHSPID_FwFlash, texts.hspid);
    showText(txtManu_FwFlash, texts.manufacturer);
    showText(txtPro_FwFlash, texts.product);
    showText(txtSN_FwFlash, texts.serial);
    showText(txtContainerID_FwFlash, texts.containerId);
    if (result.stored) {
        detail_.ShowBinary(result.highlightBegin, result.highlightEnd);
        detail_.tbViewController->reloadData();
    }
    if (result.alert) services_.alertAfterEdit(*result.alert);
}

}  // namespace velmora::window
