#include "app/Console.h"

#include "app/PrintableText.h"

#include <syslog.h>

#include <cstdio>

namespace velmora {

void SyslogConsole::line(std::string_view text) {
    syslog(LOG_USER | LOG_DEBUG, "%.*s", static_cast<int>(text.size()), text.data());
}

void StderrConsole::line(std::string_view text) {
    // Console lines quote paths and texts from files; the terminal gets none of
    // their control characters.
    const std::string shown = printableText(text, true);
    std::fprintf(stderr, "%s\n", shown.c_str());
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
