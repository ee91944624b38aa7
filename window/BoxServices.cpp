#include "window/BoxServices.h"

#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "environment/HubEnvironment.h"
#include "environment/PlanAdmission.h"
#include "window/WindowEnvironment.h"
#include "window/WindowReporter.h"
#include "window/WindowSession.h"
#include "workflows/ImageSignature.h"
#include "workflows/WorkflowContext.h"

namespace velmora::window {

WorkflowContext BoxServices::workflowContext() const {
    return WorkflowContext{
        reporter,          session.connection(),           &scheduler, nullptr, session.recorder(),
        session.backups(), &session.environment().runIds()};
}

QString BoxServices::showSignature(const ImageSignature& signature) const {
    Console& console = session.environment().console();
    QStringList signer;
    for (const std::string& line : signature.signerLines) {
        console.line(line);
        signer << QString::fromStdString(line);
    }
    for (const std::string& note : signature.notes) console.line(note);
    return signer.join('\n');
}

RunPlan BoxServices::plan(const std::string& name) const {
    return keptPlan(session.environment(), name, PlanHubs::TheOneHub);
}

std::optional<PlanVerdict> BoxServices::admit(const RunPlan& plan, RefusalAlert alert) const {
    PlanVerdict verdict = session.environment().admitPlan(plan);
    if (verdict.admitted()) return verdict;
    if (verdict.refusal == PlanRefusal::Bytes && verdict.image) {
        reportRefusedImage(reporter, *verdict.image, alert);
    } else if (alert == RefusalAlert::PaneOnly) {
        reporter.resetProgressInfo();
        reporter.appendProgressInfo_Red(verdict.reason + "\n");
    } else {
        environment.dialogs.alert(&window, QString::fromStdString(verdict.reason));
    }
    return std::nullopt;
}

void BoxServices::alertAfterEdit(const std::string& text, std::function<void()> afterwards) const {
    QMetaObject::invokeMethod(
        &window,
        [this, message = QString::fromStdString(text), afterwards = std::move(afterwards)] {
            environment.dialogs.alert(&window, message);
            if (afterwards) afterwards();
        },
        Qt::QueuedConnection);
}

}  // namespace velmora::window
