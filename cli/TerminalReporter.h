#pragma once
// The workflows' front end on a terminal or in a pipe: status-pane lines go to
// stdout exactly as the pane holds them (coloured only on a terminal), alerts and
// the progress bar to stderr (the bar only on a terminal).
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "workflows/WorkflowReporter.h"

namespace velmora::cli {

struct TerminalStreams {
    std::ostream& out;
    std::ostream& err;
    bool outIsTerminal = false;
    bool errIsTerminal = false;
};

class TerminalReporter final : public WorkflowReporter {
public:
    explicit TerminalReporter(TerminalStreams streams) : streams_(streams) {}

    void resetProgressInfo() override;
    void appendProgressInfo_Blue(const std::string& text) override;
    void appendProgressInfo_Red(const std::string& text) override;
    void updateProgressBar(double value, ProgressDelivery delivery) override;
    void showAlert(const std::string& text) override;
    void SetButtonStatus(bool enabled) override;
    void readFinished_FwFlash(const std::function<void()>& storeFlashContents) override;
    // On a terminal, the bar's line says what the run waits for while the hub restarts.
    void showWait(const std::string& text, double seconds) override;
    void endWait() override;

    const std::vector<std::string>& alerts() const { return alerts_; }

private:
    void append(const std::string& text, const char* colour);
    void clearBar();
    void drawBar();

    TerminalStreams streams_;
    double progress_ = 0;
    bool barShown_ = false;
    bool running_ = false;
    std::string waiting_;  // what the bar's line says instead of the bar; empty: the bar
    std::vector<std::string> alerts_;
};

}  // namespace velmora::cli
