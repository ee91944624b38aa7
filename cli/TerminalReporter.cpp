#include "cli/TerminalReporter.h"

#include <algorithm>
#include <cmath>

#include "app/PrintableText.h"
#include "cli/CliText.h"

namespace velmora::cli {
namespace {

constexpr const char* kBlue = "\033[34m";
constexpr const char* kRed = "\033[31m";
constexpr const char* kPlain = "\033[0m";
constexpr const char* kClearLine = "\r\033[K";
constexpr int kBarWidth = 40;
constexpr double kFullProgress = 100.0;

// An alert's text ends in a line break or not; on the terminal it is one line.
std::string withoutTrailingLineBreaks(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

void TerminalReporter::resetProgressInfo() {
    // Output already written stays on the terminal; a new run simply starts below it.
}

void TerminalReporter::appendProgressInfo_Blue(const std::string& text) {
    append(text, kBlue);
}

void TerminalReporter::appendProgressInfo_Red(const std::string& text) {
    append(text, kRed);
}

void TerminalReporter::append(const std::string& paneText, const char* colour) {
    // A pane line may quote an image's path or the configuration's FwBin.
    const std::string shown = printableText(paneText, true);
    clearBar();
    if (streams_.outIsTerminal) {
        // The colour ends before the line break, so the next line starts plain.
        const std::size_t textEnd = shown.find_last_not_of('\n') + 1;
        streams_.out << colour << shown.substr(0, textEnd) << kPlain << shown.substr(textEnd);
    } else {
        streams_.out << shown;
    }
    streams_.out.flush();
    drawBar();
}

void TerminalReporter::updateProgressBar(double value, ProgressDelivery) {
    progress_ = std::clamp(value, 0.0, kFullProgress);
    drawBar();
}

void TerminalReporter::showAlert(const std::string& text) {
    clearBar();
    alerts_.push_back(text);
    streams_.err << text::kProgramName << ": " << printableText(withoutTrailingLineBreaks(text), true)
                 << '\n';
    streams_.err.flush();
}

void TerminalReporter::SetButtonStatus(bool enabled) {
    // The buttons go off for the length of a run; only then is there progress to draw.
    running_ = !enabled;
    if (enabled) clearBar();
}

void TerminalReporter::readFinished_FwFlash(const std::function<void()>& storeFlashContents) {
    storeFlashContents();
}

void TerminalReporter::showWait(const std::string& text, double) {
    waiting_ = text;
    drawBar();
}

void TerminalReporter::endWait() {
    waiting_.clear();
    drawBar();
}

void TerminalReporter::clearBar() {
    if (!barShown_) return;
    streams_.err << kClearLine;
    streams_.err.flush();
    barShown_ = false;
}

void TerminalReporter::drawBar() {
    if (!streams_.errIsTerminal || !running_) return;
    if (!waiting_.empty()) {
        streams_.err << kClearLine << waiting_;
        streams_.err.flush();
        barShown_ = true;
        return;
    }
    const int filled = static_cast<int>(std::lround(progress_ / kFullProgress * kBarWidth));
    streams_.err << kClearLine << '[' << std::string(static_cast<std::size_t>(filled), '#')
                 << std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') << "] "
                 << std::lround(progress_) << '%';
    streams_.err.flush();
    barShown_ = true;
}

}  // namespace velmora::cli
