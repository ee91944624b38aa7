#include "window/ScalarBox.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <optional>
#include <string>
#include <vector>

#include "environment/HubListing.h"
#include "window/ControlFactory.h"
#include "window/WindowEnvironment.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "window/WindowTexts.h"
#include "window/WorkerThreads.h"
#include "workflows/RefusedImage.h"
#include "workflows/ScalarUpdate.h"

namespace velmora::window {

ScalarBox::ScalarBox(QGroupBox& frame, const BoxServices& services) : box(&frame), services_(services) {
    QWidget* area = makeContentArea(box);
    nstextfd_Scalar = makeDisplayField(area, {0, 35, 300, 20});
    nstextfd_Scalar->setText(QString::fromStdString(services.session.config().fwbinPath));
    nsbtnSelect_Scalar = makeButton(area, texts::kSelectScalar, {305, 35, 30, 20});
    nsbtnUpdate_Scalar = makeButton(area, texts::kScalarUpdate, {230, 5, 100, 20});
    QObject::connect(nsbtnSelect_Scalar, &QPushButton::clicked, box, [this] { chooseScalarUpdateFw(); });
    QObject::connect(nsbtnUpdate_Scalar, &QPushButton::clicked, box, [this] { MP_UpdateScalar(); });
}

void ScalarBox::chooseScalarUpdateFw() {
    const std::optional<QString> path = services_.environment.dialogs.chooseOpenFile(&services_.window);
    if (!path) return;
    nstextfd_Scalar->setText(*path);
    velmora::chooseScalarUpdateFw(services_.session.buffers().scalar, path->toStdString());
}

void ScalarBox::MP_UpdateScalar() {
    startRun(true, {});
}

void ScalarBox::runAtLaunch(std::function<void()> waitFirst) {
    startRun(false, std::move(waitFirst));
}

void ScalarBox::startRun(bool attended, std::function<void()> waitFirst) {
    WindowSession& session = services_.session;
    if (attended && !services_.oneHubAttached()) return;
    if (!attended) {
        if (const OneHubChoice one = session.environment().chooseOneHub(std::nullopt); one.refused()) {
            services_.reporter.resetProgressInfo();
            services_.reporter.appendProgressInfo_Red(severalHubsAttached(one.severalAttached) + "\n");
            return;
        }
    }
    // Read here, on the GUI thread: the worker touches no control itself.
    const std::string imageName = nstextfd_Scalar->text().toStdString();
    const ScalarSettings settings{session.paths().configFolder(), session.config().fwbinPath};
    // The run loads the configured image (or the one chosen) itself; one that is
    // no image at all is left to it, which says "Wrong firmware file".
    const std::string path = settings.fwbinPath.empty() ? imageName : scalarImagePath(settings);
    ImageAdmission admission = session.environment().admitImage(path, ImageUse::Scalar);
    if (!admission.admitted()) {
        reportRefusedImage(services_.reporter, admission,
                           attended ? RefusalAlert::Show : RefusalAlert::PaneOnly);
        return;
    }
    // What was judged is what is written: the run takes these bytes and reads
    // no file again (an image that is none leaves the buffer empty, and the run
    // says "Wrong firmware file").
    session.buffers().scalar = std::move(admission.image);
    nstextfd_Scalar->setToolTip(services_.showSignature(admission.signature));
    beginWorkflow(services_.reporter);
    services_.workers.start([this, imageName, settings, signature = std::move(admission.signature),
                             waitFirst = std::move(waitFirst)] {
        if (waitFirst) waitFirst();
        WorkflowContext context = services_.workflowContext();
        context.imageSignature = &signature;
        updateScalar(context, services_.session.buffers().scalar, settings, imageName, ScalarImage::Admitted);
    });
}

}  // namespace velmora::window
