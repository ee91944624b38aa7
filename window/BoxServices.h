#pragma once
// What the window's boxes share: the session, the desktop around the window, the
// workflows' reporter, the update workers and the detection scheduler a run holds
// off. AppDelegate owns all of them and hands each box this view of them; a box
// keeps it for the window's life.
#include <functional>
#include <string>

class QString;
class QWidget;

namespace velmora {
class DetectionScheduler;
struct ImageSignature;
struct WorkflowContext;
}  // namespace velmora

namespace velmora::window {

class WindowReporter;
class WindowSession;
class WorkerThreads;
struct WindowEnvironment;

struct BoxServices {
    WindowSession& session;
    WindowEnvironment& environment;
    WindowReporter& reporter;
    WorkerThreads& workers;
    DetectionScheduler& scheduler;
    QWidget& window;  // the dialogs' parent

    // The context every workflow run is handed: the reporter, the window's
    // connection, the detection scheduler and the run's record.
    WorkflowContext workflowContext() const;
    // True with at most one supported hub attached. With several, a command that
    // works on "the" hub would take whichever the bus lists first: it alerts the
    // user to leave one attached and answers false.
    bool oneHubAttached() const;
    // An image's signature as the gate judged it, outside the status pane: who
    // signed it and the notes (an unsigned image where keys are trusted) go to
    // the console log. Answers the signer's lines for the image's field.
    QString showSignature(const ImageSignature& signature) const;
    // An edit's alert, shown once the edit has returned (an edit handler opens no
    // dialog while it works, see FlashBox.cpp); then afterwards runs, if given.
    void alertAfterEdit(const std::string& text, std::function<void()> afterwards = {}) const;
};

}  // namespace velmora::window
