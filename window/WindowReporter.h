#pragma once
// The workflows' front end in the window. A workflow runs on an update worker;
// every call it makes is handed to the GUI thread: the pane lines, the step
// marks, alerts, the buttons and the read's redraw wait until the GUI thread has
// run them (blocking-queued), the per-chunk progress does not (queued), so a
// transfer never waits for drawing. Called on the GUI thread itself, a call runs
// at once.
#include <functional>

#include "workflows/WorkflowReporter.h"

namespace velmora::window {

class AppDelegate;

class WindowReporter final : public WorkflowReporter {
public:
    explicit WindowReporter(AppDelegate& window, std::function<void(int)> quit)
        : window_(window), quit_(std::move(quit)) {}

    void resetProgressInfo() override;
    void appendProgressInfo_Blue(const std::string& text) override;
    void appendProgressInfo_Red(const std::string& text) override;
    void updateProgressBar(double value, ProgressDelivery delivery) override;
    void showAlert(const std::string& text) override;
    void SetButtonStatus(bool enabled) override;
    void readFinished_FwFlash(const std::function<void()>& storeFlashContents) override;

    // A production station quits after a successful scalar run.
    bool quitsAfterScalarSuccess() const override { return true; }
    void quitAfterScalarSuccess() override;

    // Runs call on the GUI thread, waiting for it or not.
    void onGuiThread(const std::function<void()>& call, ProgressDelivery delivery = ProgressDelivery::Wait);

private:
    AppDelegate& window_;
    std::function<void(int)> quit_;
};

}  // namespace velmora::window
