// The buttons that start a workflow on an update worker (easy update, scalar
// update, flash read, flash erase) and the file choices that feed them. Each
// press turns the button set off before its worker starts; the worker turns it
// on again at its end.
#include <QLineEdit>
#include <QPushButton>
#include <optional>

#include "window/AppDelegate.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashPage.h"
#include "workflows/ScalarUpdate.h"

namespace velmora::window {
namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

void AppDelegate::chooseFw_EasyUpdate() {
    const std::optional<QString> path = environment_.dialogs.chooseOpenFile(this);
    if (!path) return;
    txtFw_EasyUpdate->setText(*path);
    FirmwareBuffer& image = session_.buffers().easyUpdate;
    // The alert for an image without a configuration block comes from the workflow;
    // the fields then keep what they showed.
    if (!velmora::chooseFw_EasyUpdate(image, path->toStdString(), *reporter_)) return;
    const ImageIdentity identity = identityOf(image);
    txtVID_EasyUpdate->setText(fromUtf8(identity.vid));
    txtSSPID_EasyUpdate->setText(fromUtf8(identity.sspid));
    txtHSPID_EasyUpdate->setText(fromUtf8(identity.hspid));
    txtVer_EasyUpdate->setText(fromUtf8(identity.version));
    txtManu_EasyUpdate->setText(fromUtf8(identity.manufacturer));
    txtPro_EasyUpdate->setText(fromUtf8(identity.product));
    txtSN_EasyUpdate->setText(fromUtf8(identity.serial));
}

void AppDelegate::updateFw_EasyUpdate() {
    beginWorkflow(*reporter_);
    // Read here, on the GUI thread: the worker touches no control itself.
    const std::string imageName = txtFw_EasyUpdate->text().toStdString();
    workers_.start(
        [this, imageName] { updateFunc(workflowContext(), session_.buffers().easyUpdate, imageName); });
}

void AppDelegate::chooseScalarUpdateFw() {
    const std::optional<QString> path = environment_.dialogs.chooseOpenFile(this);
    if (!path) return;
    nstextfd_Scalar->setText(*path);
    velmora::chooseScalarUpdateFw(session_.buffers().scalar, path->toStdString());
}

void AppDelegate::MP_UpdateScalar() {
    beginWorkflow(*reporter_);
    const std::string imageName = nstextfd_Scalar->text().toStdString();
    const ScalarSettings settings{session_.paths().configFolder(), session_.config().fwbinPath};
    workers_.start([this, imageName, settings] {
        updateScalar(workflowContext(), session_.buffers().scalar, settings, imageName);
    });
}

void AppDelegate::startScalarRunAtLaunch() {
    MP_UpdateScalar();
}

void AppDelegate::read_FwFlash() {
    beginWorkflow(*reporter_);
    workers_.start([this] { readFunc_FwFlash(workflowContext(), session_.buffers().flashPage); });
}

void AppDelegate::erase_FwFlash() {
    beginWorkflow(*reporter_);
    workers_.start([this] { eraseFunc_FwFlash(workflowContext()); });
}

}  // namespace velmora::window
