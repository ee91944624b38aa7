#include "window/EasyUpdateBox.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <optional>

#include "window/ControlFactory.h"
#include "window/WindowEnvironment.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "window/WindowTexts.h"
#include "window/WorkerThreads.h"
#include "workflows/EasyUpdate.h"
#include "workflows/RefusedImage.h"

namespace velmora::window {
namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

EasyUpdateBox::EasyUpdateBox(QGroupBox& frame, const BoxServices& services)
    : box(&frame), services_(services) {
    QWidget* area = makeContentArea(box);
    makeLabel(area, "VID", {0, 220, 30, 20});
    makeLabel(area, "SSPID", {100, 220, 50, 20});
    makeLabel(area, "HSPID", {200, 220, 50, 20});
    makeLabel(area, "ver", {250, 190, 30, 20});
    makeLabel(area, "Manufacturer", {0, 160, 100, 20});
    makeLabel(area, "Product", {0, 130, 100, 20});
    makeLabel(area, "Serial Number", {0, 100, 100, 20});
    txtVID_EasyUpdate = makeDisplayField(area, {29, 220, 50, 20});
    txtSSPID_EasyUpdate = makeDisplayField(area, {143, 220, 50, 20});
    txtHSPID_EasyUpdate = makeDisplayField(area, {243, 220, 50, 20});
    txtVer_EasyUpdate = makeDisplayField(area, {273, 190, 50, 20});
    txtManu_EasyUpdate = makeDisplayField(area, {103, 160, 200, 20});
    txtPro_EasyUpdate = makeDisplayField(area, {103, 130, 200, 20});
    txtSN_EasyUpdate = makeDisplayField(area, {103, 100, 200, 20});
    txtFw_EasyUpdate = makeDisplayField(area, {0, 30, 300, 20});
    btnSelect_EasyUpdate = makeButton(area, texts::kSelectEasyUpdate, {303, 30, 30, 20});
    btnUpdate_EasyUpdate = makeButton(area, texts::kUpdate, {250, 0, 70, 20});
    QObject::connect(btnSelect_EasyUpdate, &QPushButton::clicked, box, [this] { chooseFw_EasyUpdate(); });
    QObject::connect(btnUpdate_EasyUpdate, &QPushButton::clicked, box, [this] { updateFw_EasyUpdate(); });
}

void EasyUpdateBox::chooseFw_EasyUpdate() {
    const std::optional<QString> path = services_.environment.dialogs.chooseOpenFile(&services_.window);
    if (!path) return;
    txtFw_EasyUpdate->setText(*path);
    FirmwareBuffer& image = services_.session.buffers().easyUpdate;
    // The alert for an image without a configuration block comes from the workflow;
    // the fields then keep what they showed.
    if (!velmora::chooseFw_EasyUpdate(image, path->toStdString(), services_.reporter)) return;
    const ImageIdentity identity = identityOf(image);
    txtVID_EasyUpdate->setText(fromUtf8(identity.vid));
    txtSSPID_EasyUpdate->setText(fromUtf8(identity.sspid));
    txtHSPID_EasyUpdate->setText(fromUtf8(identity.hspid));
    txtVer_EasyUpdate->setText(fromUtf8(identity.version));
    txtManu_EasyUpdate->setText(fromUtf8(identity.manufacturer));
    txtPro_EasyUpdate->setText(fromUtf8(identity.product));
    txtSN_EasyUpdate->setText(fromUtf8(identity.serial));
}

void EasyUpdateBox::updateFw_EasyUpdate() {
    // Read here, on the GUI thread: the worker touches no control itself.
    const std::string imageName = txtFw_EasyUpdate->text().toStdString();
    FirmwareBuffer& image = services_.session.buffers().easyUpdate;
    ImageSignature signature;
    // The file is held to the rules as it is now, and what was checked is what is
    // written. Without an image loaded the run says "Wrong firmware file" itself.
    RunPlan plan = services_.plan("Update");
    if (image.loaded) {
        plan.bytes = {BytesSource::ImageFile, imageName, ImageUse::Update};
        plan.reads = {imageName};
    }
    std::optional<PlanVerdict> admitted = services_.admit(plan);
    if (!admitted) return;
    if (admitted->image) {
        ImageAdmission& admission = *admitted->image;
        image = std::move(admission.image);
        signature = std::move(admission.signature);
        txtFw_EasyUpdate->setToolTip(services_.showSignature(signature));
    }
    beginWorkflow(services_.reporter);
    services_.workers.start([this, imageName, signature = std::move(signature)] {
        WorkflowContext context = services_.workflowContext();
        context.imageSignature = signature.state.empty() ? nullptr : &signature;
        updateFunc(context, services_.session.buffers().easyUpdate, imageName);
    });
}

}  // namespace velmora::window
