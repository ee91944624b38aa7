#pragma once
// The terminal shared by the runs on several hubs at once. Each hub's status lines
// reach stdout whole and prefixed with its port ("1-2: Erase Flash..."), never
// torn by another hub's; on a terminal, one line on stderr shows where every hub
// stands (its progress, or how long it has waited for its restart). With --json
// the lines are only collected, for the hub's entry in the JSON.
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cli/TerminalReporter.h"
#include "workflows/WorkflowReporter.h"

namespace velmora::cli {

class FleetTerminal {
public:
    FleetTerminal(TerminalStreams streams, std::vector<std::string> ports);

    void writeLines(std::size_t hub, const std::vector<std::string>& lines, bool red);
    void writeAlert(std::size_t hub, const std::string& text);
    void setStanding(std::size_t hub, std::string standing);
    // Takes the standing line away for good: the runs have ended.
    void finish();

private:
    void clearStanding();  // with mutex_ held
    void drawStanding();   // with mutex_ held

    std::mutex mutex_;
    TerminalStreams streams_;
    std::vector<std::string> ports_;
    std::vector<std::string> standings_;
    bool standingShown_ = false;
    bool finished_ = false;
};

class PortReporter final : public WorkflowReporter {
public:
    // collectOnly: keep the lines (for --json) instead of writing them.
    PortReporter(FleetTerminal& terminal, std::size_t hub, std::string port, bool collectOnly);

    void resetProgressInfo() override {}
    void appendProgressInfo_Blue(const std::string& text) override { append(text, false); }
    void appendProgressInfo_Red(const std::string& text) override { append(text, true); }
    void updateProgressBar(double value, ProgressDelivery delivery) override;
    void showAlert(const std::string& text) override;
    void SetButtonStatus(bool) override {}
    void readFinished_FwFlash(const std::function<void()>& storeFlashContents) override {
        storeFlashContents();
    }
    void showWait(const std::string& text, double seconds) override;
    void endWait() override;

    // Every whole line the run showed, without its line end.
    const std::vector<std::string>& lines() const { return lines_; }

private:
    void append(const std::string& text, bool red);

    FleetTerminal& terminal_;
    std::size_t hub_;
    std::string port_;
    bool collectOnly_;
    std::string partial_;  // the start of a line whose end has not come yet
    std::vector<std::string> lines_;
    double progress_ = 0;
};

}  // namespace velmora::cli
