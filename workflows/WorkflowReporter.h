#pragma once
// What a workflow needs of its front end: the status pane, the progress slider,
// alerts, the workflow buttons and the redraw after a flash read. The window
// implements it with calls handed to its main thread; the command line with plain
// text on stdout and stderr. The workflows themselves are written once against it.
#include <functional>
#include <string>

namespace velmora {

// Progress posted during a transfer does not wait for the screen, so drawing never
// stalls the hub; the step marks wait, so the pane and slider show them in order.
enum class ProgressDelivery { Wait, NoWait };

class WorkflowReporter {
public:
    virtual ~WorkflowReporter() = default;

    // Empties the status pane.
    virtual void resetProgressInfo() = 0;
    // Appends text (the caller supplies the line ends), then colours the whole pane.
    virtual void appendProgressInfo_Blue(const std::string& text) = 0;
    virtual void appendProgressInfo_Red(const std::string& text) = 0;
    // 0 to 100.
    virtual void updateProgressBar(double value, ProgressDelivery delivery) = 0;
    // A modal message with one "OK" button; returns once it is closed.
    virtual void showAlert(const std::string& text) = 0;
    // Enables or disables every workflow button together.
    virtual void SetButtonStatus(bool enabled) = 0;

    // The end of a flash read. Runs storeFlashContents (which replaces the flash-page
    // buffer) and then redraws the page, both on the front end's own thread, and
    // returns when that is done, so the buffer never changes under an editor.
    virtual void readFinished_FwFlash(const std::function<void()>& storeFlashContents) = 0;

    // While a run waits for the hub to restart, what it waits for and for how long
    // so far (the text says both; seconds for a front end's own short form), again
    // and again; endWait when the hub is back or given up. A front end may show it
    // in place of a progress bar that would stand still for seconds.
    virtual void showWait(const std::string& /*text*/, double /*seconds*/) {}
    virtual void endWait() {}

    // A production station quits a few seconds after a successful scalar run; a
    // front end that answers false keeps running and reports the result itself.
    virtual bool quitsAfterScalarSuccess() const { return false; }
    virtual void quitAfterScalarSuccess() {}
};

}  // namespace velmora
