// The flash page on the GUI thread: loading and saving its image, the redraw
// after a read or a load, and the detail box's display of it (the property
// table, the binary view and the identity fields).
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <iostream>
#include <optional>

#include "editor/BinaryView.h"
#include "editor/DescriptorFields.h"
#include "window/AppDelegate.h"
#include "window/TableViewController.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "workflows/FlashPage.h"
#include "workflows/FlashPageSave.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::window {
namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

void AppDelegate::readFinished_FwFlash(const std::function<void()>& storeFlashContents) {
    storeFlashContents();
    if (!session_.buffers().flashPage.loaded) {
        txtVID_FwFlash->setText(QString::fromLatin1(messages::kNoConfigurationBlockVid));
        return;
    }
    redrawFlashPage();
}

void AppDelegate::load_FwFlash() {
    FirmwareBuffer& flashPage = session_.buffers().flashPage;
    if (const std::optional<QString> path = environment_.dialogs.chooseOpenFile(this)) {
        switch (velmora::load_FwFlash(flashPage, path->toStdString(), *reporter_)) {
            case FlashPageLoad::Loaded:
                tbViewController->LoadIni(selectedDefinitionFolder(), selectedDefinition());
                tbViewController->RefreshCurValues(flashPage);
                break;
            case FlashPageLoad::NoImage:
                tbViewController->clear();
                txtViewBin_Detail->setPlainText(QString::fromLatin1(messages::kEmptyBinaryView));
                break;
            case FlashPageLoad::KeptEarlier: break;
        }
    }
    // Also after a cancelled panel: the first page, drawn from the buffer as it is.
    {
        const QSignalBlocker quiet(cbPages);
        cbPages->setCurrentIndex(0);
    }
    PageNameCombBox_SelectedChanged();
}

void AppDelegate::save_FwFlash() {
    FlashPageFields fields;
    fields.vid = txtVID_FwFlash->text().toStdString();
    fields.sspid = txtSSPID_FwFlash->text().toStdString();
    fields.hspid = txtHSPID_FwFlash->text().toStdString();
    fields.version = txtVer_FwFlash->text().toStdString();
    fields.manufacturer = txtManu_FwFlash->text().toStdString();
    fields.product = txtPro_FwFlash->text().toStdString();
    fields.serial = txtSN_FwFlash->text().toStdString();
    FirmwareBuffer& flashPage = session_.buffers().flashPage;
    if (!velmora::save_FwFlash(flashPage, fields, *reporter_, session_.console(), std::cout)) return;
    if (const std::optional<QString> path = environment_.dialogs.chooseSavePath(this)) {
        saveFinished_FwFlash(flashPage, path->toStdString(), *reporter_, session_.console());
    }
}

void AppDelegate::redrawFlashPage() {
    tbViewController->LoadIni(selectedDefinitionFolder(), selectedDefinition());
    tbViewController->RefreshCurValues(session_.buffers().flashPage);
    {
        const QSignalBlocker quiet(cbPages);
        cbPages->setCurrentIndex(0);
    }
    PageNameCombBox_SelectedChanged();
}

void AppDelegate::ICTypeCombBox_SelectedChanged() {
    // Without an image the next load or read reads the newly chosen file anyway.
    if (session_.buffers().flashPage.loaded) redrawFlashPage();
}

void AppDelegate::PageNameCombBox_SelectedChanged() {
    const std::string page = cbPages->currentText().toStdString();
    session_.console().line("selected value:" + page);
    tbViewController->selectPage(page);
    ShowBinary(0, 0);
    UpdateTxt_FwFlash();
}

void AppDelegate::ShowBinary(std::uint32_t offsetBegin, std::uint32_t offsetEnd) {
    const std::optional<editor::BinaryViewText> view =
        editor::ShowBinary(session_.buffers().flashPage, offsetBegin, offsetEnd, session_.console());
    if (!view) return;
    txtViewBin_Detail->setPlainText(fromUtf8(view->text));
    QTextCursor cursor(txtViewBin_Detail->document());
    cursor.select(QTextCursor::Document);
    QTextCharFormat black;
    black.setForeground(Qt::black);
    cursor.setCharFormat(black);
    // The changed bytes in red, scrolled into view.
    cursor.setPosition(static_cast<int>(view->highlightStart));
    cursor.setPosition(static_cast<int>(view->highlightStart + view->highlightLength),
                       QTextCursor::KeepAnchor);
    QTextCharFormat red;
    red.setForeground(Qt::red);
    cursor.setCharFormat(red);
    // The end of the range first, then its start: a range taller than the view
    // shows from its first red byte.
    cursor.clearSelection();
    txtViewBin_Detail->setTextCursor(cursor);
    txtViewBin_Detail->ensureCursorVisible();
    cursor.setPosition(static_cast<int>(view->highlightStart));
    txtViewBin_Detail->setTextCursor(cursor);
    txtViewBin_Detail->ensureCursorVisible();
}

void AppDelegate::UpdateTxt_FwFlash() {
    const std::optional<IdentityTexts> texts = ::UpdateTxt_FwFlash(session_.buffers().flashPage);
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

std::string AppDelegate::selectedDefinition() const {
    const int index = cbICType->currentIndex();
    if (index < 0 || index >= static_cast<int>(definitionChoices_.size())) return {};
    return definitionChoices_[static_cast<std::size_t>(index)].relativePath;
}

std::string AppDelegate::selectedDefinitionFolder() const {
    const int index = cbICType->currentIndex();
    if (index < 0 || index >= static_cast<int>(definitionChoices_.size())) return {};
    return definitionChoices_[static_cast<std::size_t>(index)].folder;
}

}  // namespace velmora::window
