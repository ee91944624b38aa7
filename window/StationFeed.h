#pragma once
// The station's reports on their way to the station view. The station's loop
// and its unit runs hand each one in and go on at once: the newest report per
// port is kept, and one call is posted (queued, never waited for) to the GUI
// thread while anything waits there; it takes everything at once. So 64 units
// never queue behind the GUI thread, and a busy GUI thread sees only the latest
// of each unit. A unit's end is kept apart from its newer reports, so the list
// of finished units misses none.
#include <QObject>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "production/StationDisplay.h"

namespace velmora::window {

class StationFeed final : public StationDisplay {
public:
    // deliver runs on target's thread once something waits; nothing runs once
    // target is gone.
    StationFeed(QObject* target, std::function<void()> deliver);

    void unitReported(const UnitReport& report) override;
    void portsPresent(const std::vector<std::string>& ports) override;
    // One of the station's lines.
    void line(const std::string& text);

    struct Batch {
        std::map<std::string, UnitReport> latest;  // by port
        std::vector<UnitReport> ended;             // in the order the units ended
        std::optional<std::vector<std::string>> present;
        std::vector<std::string> lines;
    };
    // What waited since the last take (GUI thread).
    Batch take();

private:
    void postLocked();

    QObject* target_;
    std::function<void()> deliver_;
    std::mutex mutex_;
    Batch waiting_;
    std::vector<std::string> presentSent_;
    bool posted_ = false;
};

}  // namespace velmora::window
