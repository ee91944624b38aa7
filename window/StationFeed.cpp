#include "window/StationFeed.h"

#include "window/GuiHandOver.h"

namespace velmora::window {

StationFeed::StationFeed(QObject* target, std::function<void()> deliver)
    : target_(target), deliver_(std::move(deliver)) {}

void StationFeed::unitReported(const UnitReport& report) {
    std::lock_guard lock(mutex_);
    waiting_.latest[report.port] = report;
    if (report.state != UnitState::Running) waiting_.ended.push_back(report);
    postLocked();
}

void StationFeed::portsPresent(const std::vector<std::string>& ports) {
    std::lock_guard lock(mutex_);
    // The station looks four times a second: only a change is worth a post.
    if (ports == presentSent_) return;
    presentSent_ = ports;
    waiting_.present = ports;
    postLocked();
}

void StationFeed::line(const std::string& text) {
    std::lock_guard lock(mutex_);
    waiting_.lines.push_back(text);
    postLocked();
}

StationFeed::Batch StationFeed::take() {
    std::lock_guard lock(mutex_);
    posted_ = false;
    Batch batch = std::move(waiting_);
    waiting_ = Batch{};
    return batch;
}

void StationFeed::postLocked() {
    if (posted_) return;
    posted_ = true;
    runOnGuiThread(target_, deliver_, Qt::QueuedConnection);
}

}  // namespace velmora::window
