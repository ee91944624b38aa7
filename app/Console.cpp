#include "app/Console.h"

#include <syslog.h>

#include <cstdio>

namespace velmora {

void SyslogConsole::line(std::string_view text) {
    syslog(LOG_USER | LOG_DEBUG, "%.*s", static_cast<int>(text.size()), text.data());
}

void StderrConsole::line(std::string_view text) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

void RecordingConsole::line(std::string_view text) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(text);
}

std::vector<std::string> RecordingConsole::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

}  // namespace velmora
