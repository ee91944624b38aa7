#include "cli/FleetTerminal.h"

#include <algorithm>

#include "app/PrintableText.h"
#include "cli/CliText.h"

namespace velmora::cli {
namespace {

constexpr const char* kBlue = "\033[34m";
constexpr const char* kRed = "\033[31m";
constexpr const char* kPlain = "\033[0m";
constexpr const char* kClearLine = "\r\033[K";

}  // namespace

FleetTerminal::FleetTerminal(TerminalStreams streams, std::vector<std::string> ports)
    : streams_(streams), ports_(std::move(ports)), standings_(ports_.size()) {
    // Shown only: a replay's port names are its recording's words.
    for (std::string& port : ports_) port = printableText(port);
}

void FleetTerminal::writeLines(std::size_t hub, const std::vector<std::string>& lines, bool red) {
    std::lock_guard lock(mutex_);
    clearStanding();
    for (const std::string& line : lines) {
        const std::string shown = printableText(line, true);
        streams_.out << ports_[hub] << ':';
        if (!shown.empty()) {
            streams_.out << ' ';
            if (streams_.outIsTerminal) {
                streams_.out << (red ? kRed : kBlue) << shown << kPlain;
            } else {
                streams_.out << shown;
            }
        }
        streams_.out << '\n';
    }
    streams_.out.flush();
    drawStanding();
}

void FleetTerminal::writeAlert(std::size_t hub, const std::string& text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::lock_guard lock(mutex_);
    clearStanding();
    streams_.err << text::kProgramName << ": " << ports_[hub] << ": " << printableText(line, true) << '\n';
    streams_.err.flush();
    drawStanding();
}

void FleetTerminal::setStanding(std::size_t hub, std::string standing) {
    std::lock_guard lock(mutex_);
    if (standings_[hub] == standing) return;
    standings_[hub] = std::move(standing);
    drawStanding();
}

void FleetTerminal::finish() {
    std::lock_guard lock(mutex_);
    clearStanding();
    finished_ = true;
}

void FleetTerminal::clearStanding() {
    if (!standingShown_) return;
    streams_.err << kClearLine;
    streams_.err.flush();
    standingShown_ = false;
}

void FleetTerminal::drawStanding() {
    if (!streams_.errIsTerminal || finished_) return;
    std::string line;
    for (std::size_t hub = 0; hub < ports_.size(); ++hub) {
        if (standings_[hub].empty()) continue;
        line += (line.empty() ? "" : "  ") + ports_[hub] + ' ' + standings_[hub];
    }
    streams_.err << kClearLine << line;
    streams_.err.flush();
    standingShown_ = true;
}

PortReporter::PortReporter(FleetTerminal& terminal, std::size_t hub, std::string port, bool collectOnly)
    : terminal_(terminal), hub_(hub), port_(std::move(port)), collectOnly_(collectOnly) {}

void PortReporter::append(const std::string& text, bool red) {
    partial_ += text;
    std::vector<std::string> whole;
    for (std::size_t end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
        whole.push_back(partial_.substr(0, end));
        partial_.erase(0, end + 1);
    }
    if (whole.empty()) return;
    lines_.insert(lines_.end(), whole.begin(), whole.end());
    if (!collectOnly_) terminal_.writeLines(hub_, whole, red);
}

void PortReporter::updateProgressBar(double value, ProgressDelivery) {
    progress_ = std::clamp(value, 0.0, 100.0);
    terminal_.setStanding(hub_, text::fleetProgress(progress_));
}

void PortReporter::showAlert(const std::string& text) {
    terminal_.writeAlert(hub_, text);
}

void PortReporter::showWait(const std::string&, double seconds) {
    terminal_.setStanding(hub_, text::fleetRestarting(seconds));
}

void PortReporter::endWait() {
    terminal_.setStanding(hub_, text::fleetProgress(progress_));
}

}  // namespace velmora::cli
