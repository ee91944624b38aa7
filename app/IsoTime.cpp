#include "app/IsoTime.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace velmora {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Reads exactly count digits at position; false when they are not all there.
bool readNumber(const std::string& text, std::size_t& position, std::size_t count, int& value) {
    if (position + count > text.size()) return false;
    value = 0;
    for (std::size_t index = 0; index < count; ++index) {
        const char digit = text[position + index];
        if (!std::isdigit(static_cast<unsigned char>(digit))) return false;
        value = value * 10 + (digit - '0');
    }
    position += count;
    return true;
}

bool expect(const std::string& text, std::size_t& position, char wanted) {
    if (position >= text.size() || text[position] != wanted) return false;
    ++position;
    return true;
}

struct ParsedTime {
    std::tm fields{};
    milliseconds fraction{0};
    std::optional<seconds> offset;  // east of UTC; none: local time
};

bool readClock(const std::string& text, std::size_t& position, ParsedTime& parsed) {
    std::tm& fields = parsed.fields;
    if (!readNumber(text, position, 2, fields.tm_hour) || !expect(text, position, ':') ||
        !readNumber(text, position, 2, fields.tm_min))
        return false;
    if (position < text.size() && text[position] == ':') {
        ++position;
        if (!readNumber(text, position, 2, fields.tm_sec)) return false;
        if (position < text.size() && (text[position] == '.' || text[position] == ',')) {
            ++position;
            int scale = 100;
            int thousandths = 0;
            const std::size_t first = position;
            while (position < text.size() && std::isdigit(static_cast<unsigned char>(text[position]))) {
                thousandths += (text[position] - '0') * scale;
                scale /= 10;
                ++position;
            }
            if (position == first) return false;
            parsed.fraction = milliseconds(thousandths);
        }
    }
    return fields.tm_hour <= 23 && fields.tm_min <= 59 && fields.tm_sec <= 60;
}

bool readZone(const std::string& text, std::size_t& position, ParsedTime& parsed) {
    if (position == text.size()) return true;
    if (text[position] == 'Z' || text[position] == 'z') {
        parsed.offset = seconds(0);
        return ++position == text.size();
    }
    if (text[position] != '+' && text[position] != '-') return false;
    const int sign = text[position++] == '-' ? -1 : 1;
    int hours = 0;
    int minutes = 0;
    if (!readNumber(text, position, 2, hours)) return false;
    if (position < text.size() && text[position] == ':') ++position;
    if (position < text.size() && !readNumber(text, position, 2, minutes)) return false;
    if (hours > 23 || minutes > 59) return false;
    parsed.offset = seconds(sign * (hours * 3600 + minutes * 60));
    return position == text.size();
}

bool validDate(const std::tm& fields) {
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return fields.tm_mon >= 1 && fields.tm_mon <= 12 && fields.tm_mday >= 1 &&
           fields.tm_mday <= kDays[fields.tm_mon - 1];
}

}  // namespace

WallTime wallNow() {
    return std::chrono::time_point_cast<milliseconds>(std::chrono::system_clock::now());
}

std::string isoUtc(WallTime time) {
    const milliseconds sinceEpoch = time.time_since_epoch();
    auto wholeSeconds = duration_cast<seconds>(sinceEpoch);
    if (wholeSeconds > sinceEpoch) wholeSeconds -= seconds(1);  // before 1970: round down
    const std::time_t stamp = static_cast<std::time_t>(wholeSeconds.count());
    std::tm fields{};
    gmtime_r(&stamp, &fields);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", fields.tm_year + 1900,
                  fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                  static_cast<int>((sinceEpoch - wholeSeconds).count()));
    return text;
}

std::optional<WallTime> parseIsoTime(const std::string& text) {
    ParsedTime parsed;
    std::tm& fields = parsed.fields;
    std::size_t position = 0;
    if (!readNumber(text, position, 4, fields.tm_year) || !expect(text, position, '-') ||
        !readNumber(text, position, 2, fields.tm_mon) || !expect(text, position, '-') ||
        !readNumber(text, position, 2, fields.tm_mday) || !validDate(fields))
        return std::nullopt;
    if (position < text.size() && (text[position] == 'T' || text[position] == 't' || text[position] == ' ')) {
        ++position;
        if (!readClock(text, position, parsed)) return std::nullopt;
    }
    if (!readZone(text, position, parsed)) return std::nullopt;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    std::time_t stamp = 0;
    if (parsed.offset) {
        stamp = timegm(&fields) - static_cast<std::time_t>(parsed.offset->count());
    } else {
        fields.tm_isdst = -1;  // the local rules of that day say whether summer time applied
        stamp = std::mktime(&fields);
    }
    return WallTime(seconds(stamp)) + parsed.fraction;
}

}  // namespace velmora
