#include "window/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "window/WindowTexts.h"

namespace velmora::window {

std::optional<QString> QtDialogs::chooseOpenFile(QWidget* parent) {
    // Any file may be chosen; no file type is imposed.
    const QString path = QFileDialog::getOpenFileName(parent);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<QString> QtDialogs::chooseSavePath(QWidget* parent) {
    QFileDialog dialog(parent, QString::fromLatin1(texts::kSaveMessage));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::FileName, QString::fromLatin1(texts::kSaveAsLabel));
    // Linux file names are case-sensitive: the filter takes both spellings.
    dialog.setNameFilter(QString::fromLatin1(texts::kBinFilter));
    dialog.setDefaultSuffix(QString::fromLatin1(texts::kBinSuffix));
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void QtDialogs::alert(QWidget* parent, const QString& text) {
    QMessageBox box(parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setInformativeText(QString());
    box.addButton(QString::fromLatin1(texts::kOk), QMessageBox::AcceptRole);
    box.exec();
}

driver::RestartAnswer QtDialogs::askRestart(QWidget* parent, const QString& message) {
    QMessageBox box(parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(message);
    QPushButton* cancel = box.addButton(
        QString::fromUtf8(driver::kCancelButton.data(), static_cast<qsizetype>(driver::kCancelButton.size())),
        QMessageBox::RejectRole);
    QPushButton* reboot =
        box.addButton(QString::fromUtf8(driver::kRebootNowButton.data(),
                                        static_cast<qsizetype>(driver::kRebootNowButton.size())),
                      QMessageBox::AcceptRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == reboot ? driver::RestartAnswer::RebootNow : driver::RestartAnswer::Cancel;
}

CloseAnswer QtDialogs::askCloseDuringFlash(QWidget* parent) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromLatin1(texts::kCloseDuringFlash));
    box.setInformativeText(QString::fromLatin1(texts::kCloseDuringFlashDetail));
    QPushButton* keep = box.addButton(QString::fromLatin1(texts::kKeepOpen), QMessageBox::RejectRole);
    QPushButton* close = box.addButton(QString::fromLatin1(texts::kCloseWhenDone), QMessageBox::AcceptRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == close ? CloseAnswer::CloseWhenDone : CloseAnswer::KeepOpen;
}

bool QtDialogs::confirmAbandon(QWidget* parent, const QString& ports) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromLatin1(texts::kAbandonQuestionFormat).arg(ports));
    QPushButton* keep = box.addButton(QString::fromLatin1(texts::kKeepOpen), QMessageBox::RejectRole);
    QPushButton* abandon = box.addButton(QString::fromLatin1(texts::kAbandon), QMessageBox::DestructiveRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == abandon;
}

StationCloseAnswer QtDialogs::askCloseStation(QWidget* parent, const QString& ports) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromLatin1(texts::kCloseStationQuestionFormat).arg(ports));
    box.setInformativeText(QString::fromLatin1(texts::kCloseStationDetail));
    QPushButton* keep = box.addButton(QString::fromLatin1(texts::kKeepOpen), QMessageBox::RejectRole);
    QPushButton* done = box.addButton(QString::fromLatin1(texts::kCloseWhenDone), QMessageBox::AcceptRole);
    QPushButton* abandon = box.addButton(QString::fromLatin1(texts::kAbandon), QMessageBox::DestructiveRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() == done) return StationCloseAnswer::CloseWhenDone;
    return box.clickedButton() == abandon ? StationCloseAnswer::Abandon : StationCloseAnswer::KeepOpen;
}

}  // namespace velmora::window
