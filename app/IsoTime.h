#pragma once
// Times as the program keeps them: every stamp is UTC in one fixed-width ISO-8601 form, so
// they sort and compare as text, in SQL as well as in a spreadsheet.
#include <chrono>
#include <optional>
#include <string>

namespace velmora {

// Milliseconds since 1970: the system clock's own nanoseconds end in 2262, and a
// user may well ask for everything since 9999-01-01.
using WallTime = std::chrono::sys_time<std::chrono::milliseconds>;

WallTime wallNow();

// "2026-12-08T11:05:43.123Z".
std::string isoUtc(WallTime time);

// Reads the times a user types for --since: a date ("2026-12-08"), or a date and a
// time ("2026-12-08T11:05", "...:43", "...:43.5"; a space may stand for the "T"),
// followed by "Z", an offset ("+01:00", "-0500") or nothing for local time.
// Nothing when the text is not such a time.
std::optional<WallTime> parseIsoTime(const std::string& text);

}  // namespace velmora
