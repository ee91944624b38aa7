#include "window/WindowReporter.h"

#include <QString>
#include <QThread>

#include "app/PrintableText.h"
#include "window/AppDelegate.h"
#include "window/GuiHandOver.h"

namespace velmora::window {
namespace {

// The pane's lines carry texts from outside (a hub's strings, a recording's port
// names): made printable like every other output, its line breaks kept.
QString fromUtf8(const std::string& text) {
    return QString::fromStdString(printableText(text, true));
}

}  // namespace

void WindowReporter::onGuiThread(const std::function<void()>& call, ProgressDelivery delivery) {
    if (QThread::currentThread() == window_.thread()) {
        // A blocking hand-over to the thread that makes it would never return.
        call();
        return;
    }
    const Qt::ConnectionType type =
        delivery == ProgressDelivery::Wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection;
    runOnGuiThread(&window_, call, type);
}

void WindowReporter::resetProgressInfo() {
    onGuiThread([this] { window_.resetProgressInfo(); });
}

void WindowReporter::appendProgressInfo_Blue(const std::string& text) {
    onGuiThread([this, line = fromUtf8(text)] { window_.appendProgressInfo_Blue(line); });
}

void WindowReporter::appendProgressInfo_Red(const std::string& text) {
    onGuiThread([this, line = fromUtf8(text)] { window_.appendProgressInfo_Red(line); });
}

void WindowReporter::updateProgressBar(double value, ProgressDelivery delivery) {
    onGuiThread([this, value] { window_.updateProgressBar(value); }, delivery);
}

void WindowReporter::showAlert(const std::string& text) {
    onGuiThread([this, message = fromUtf8(text)] { window_.showAlert(message); });
}

void WindowReporter::SetButtonStatus(bool enabled) {
    onGuiThread([this, enabled] { window_.SetButtonStatus(enabled); });
}

void WindowReporter::readFinished_FwFlash(const std::function<void()>& storeFlashContents) {
    // The buffer is replaced on the GUI thread, right before the redraw, so it
    // never changes under the page's editors.
    onGuiThread([this, &storeFlashContents] { window_.readFinished_FwFlash(storeFlashContents); });
}

void WindowReporter::quitAfterScalarSuccess() {
    onGuiThread([this] { quit_(0); }, ProgressDelivery::NoWait);
}

}  // namespace velmora::window
