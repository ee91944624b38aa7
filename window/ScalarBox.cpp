#include "window/ScalarBox.h"

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
    beginWorkflow(services_.reporter);
    // Read here, on the GUI thread: the worker touches no control itself.
    const std::string imageName = nstextfd_Scalar->text().toStdString();
    WindowSession& session = services_.session;
    const ScalarSettings settings{session.paths().configFolder(), session.config().fwbinPath};
    services_.workers.start([this, imageName, settings] {
        updateScalar(services_.workflowContext(), services_.session.buffers().scalar, settings, imageName);
    });
}

}  // namespace velmora::window
