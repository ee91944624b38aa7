#include "window/BoxServices.h"

#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "environment/HubListing.h"
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

bool BoxServices::oneHubAttached() const {
    const OneHubChoice one = session.environment().chooseOneHub(std::nullopt);
    if (!one.refused()) return true;
    environment.dialogs.alert(&window, QString::fromStdString(severalHubsAttached(one.severalAttached)));
    return false;
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
