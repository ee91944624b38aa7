#include "history/HistoryLocation.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace velmora::history {
namespace {

constexpr const char* kSchemes[] = {"postgresql://", "postgres://"};

bool sameIgnoringCase(const std::string& text, std::size_t at, const std::string& word) {
    if (text.size() < at + word.size()) return false;
    for (std::size_t index = 0; index < word.size(); ++index) {
        if (std::tolower(static_cast<unsigned char>(text[at + index])) != word[index]) return false;
    }
    return true;
}

// The scheme's length in any letter case: a name that only looks like a URI is
// still never shown with its user information.
std::size_t schemeLength(const std::string& text) {
    for (const std::string scheme : kSchemes) {
        if (sameIgnoringCase(text, 0, scheme)) return scheme.size();
    }
    return 0;
}

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    const int lower = std::tolower(static_cast<unsigned char>(digit));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// A parameter's name as the client library reads it: "pass%77ord" is "password".
std::string percentDecoded(const std::string& text) {
    std::string decoded;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (text[index] == '%' && index + 2 < text.size() && hexValue(text[index + 1]) >= 0 &&
            hexValue(text[index + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[index + 1]) * 16 + hexValue(text[index + 2]));
            index += 2;
        } else {
            decoded += text[index];
        }
    }
    return decoded;
}

// The value of every parameter after from's "?" whose name, decoded, is "password".
void addParameterSpans(const std::string& uri, std::size_t from,
                       std::vector<std::pair<std::size_t, std::size_t>>& spans) {
    const std::size_t query = uri.find('?', from);
    if (query == std::string::npos) return;
    std::size_t start = query + 1;
    while (start <= uri.size()) {
        std::size_t end = uri.find('&', start);
        if (end == std::string::npos) end = uri.size();
        const std::size_t equals = uri.find('=', start);
        if (equals < end && percentDecoded(uri.substr(start, equals - start)) == "password" &&
            end > equals + 1)
            spans.emplace_back(equals + 1, end - equals - 1);
        start = end + 1;
    }
}

}  // namespace

bool isServerUri(const std::string& text) {
    return schemeLength(text) != 0;
}

std::vector<std::pair<std::size_t, std::size_t>> uriPasswordSpans(const std::string& uri) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    const std::size_t begin = schemeLength(uri);
    if (begin == 0) return spans;
    // The client library reads user information up to the first "@" before any
    // "/", whatever "?" or "#" come first; the last such "@" is taken here, so a
    // password holding an "@" is never shown in part either. Without one, an "@"
    // before the parameters still ends user information (a password holding a
    // "/", which the library then misreads as a host and port, and says so).
    const auto lastAtBefore = [&uri, begin](std::size_t end) {
        return end <= begin ? std::string::npos : uri.rfind('@', end - 1);
    };
    std::size_t at = lastAtBefore(std::min(uri.find('/', begin), uri.size()));
    if (at == std::string::npos || at < begin) at = lastAtBefore(std::min(uri.find('?', begin), uri.size()));
    std::size_t hostStart = begin;
    if (at != std::string::npos && at >= begin) {
        hostStart = at + 1;
        const std::size_t colon = uri.find(':', begin);
        if (colon != std::string::npos && colon < at && at > colon + 1)
            spans.emplace_back(colon + 1, at - colon - 1);
    }
    addParameterSpans(uri, hostStart, spans);
    return spans;
}

std::string redactUri(const std::string& uri) {
    std::string redacted = uri;
    const auto spans = uriPasswordSpans(uri);
    // From the last to the first, so the earlier offsets still hold.
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
        const bool inUserPart = span->first > 0 && redacted[span->first - 1] == ':';
        // "user:secret@" becomes "user@"; "password=secret" becomes "password=***".
        if (inUserPart) {
            redacted.erase(span->first - 1, span->second + 1);
        } else {
            redacted.replace(span->first, span->second, "***");
        }
    }
    return redacted;
}

std::string withoutPassword(std::string message, const std::string& uri) {
    // The whole URI first, shown as every message shows it; then any stray copy.
    const std::size_t whole = message.find(uri);
    if (whole != std::string::npos && !uri.empty()) message.replace(whole, uri.size(), redactUri(uri));
    // Each password as written and as the client library decodes it ("p%40ss" is "p@ss").
    for (const auto& [offset, length] : uriPasswordSpans(uri)) {
        for (const std::string& secret :
             {uri.substr(offset, length), percentDecoded(uri.substr(offset, length))}) {
            for (std::size_t found = message.find(secret); found != std::string::npos;
                 found = message.find(secret, found + 3)) {
                message.replace(found, secret.size(), "***");
            }
        }
    }
    return message;
}

HistoryTarget chooseHistory(const std::optional<std::string>& commandLine, const std::string& variable,
                            const std::string& configured, const std::string& defaultPath, bool benchRun) {
    HistoryTarget target;
    target.localPath = defaultPath;
    std::string named;
    if (commandLine) {
        named = *commandLine;
        target.source = ServerSource::CommandLine;
    } else if (!variable.empty()) {
        named = variable;
        target.source = ServerSource::Variable;
    } else if (!configured.empty()) {
        named = configured;
        target.source = ServerSource::Config;
    }
    if (!isServerUri(named)) {
        // A file (or nothing) names the station's own history; config.ini names
        // only a server, since a path there would be every user's.
        if (!named.empty() && target.source != ServerSource::Config) {
            target.localPath = named;
            target.localNamed = true;
        }
        target.source = ServerSource::None;
        return target;
    }
    if (benchRun && target.source != ServerSource::CommandLine) {
        target.serverSkipped = true;
        target.source = ServerSource::None;
        return target;
    }
    // Schemes are the same in any letter case; the client library takes them
    // written small.
    const std::size_t scheme = schemeLength(named);
    std::transform(named.begin(), named.begin() + static_cast<std::ptrdiff_t>(scheme), named.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    target.serverUri = named;
    return target;
}

bool uriHasPassword(const std::string& uri) {
    return !uriPasswordSpans(uri).empty();
}

std::size_t uriStart(const std::string& word) {
    for (std::size_t at = 0; at < word.size(); ++at) {
        if (schemeLength(word.substr(at)) != 0) return at;
    }
    return std::string::npos;
}

std::string withoutUriPasswords(const std::string& word) {
    const std::size_t uri = uriStart(word);
    return uri == std::string::npos ? word : word.substr(0, uri) + redactUri(word.substr(uri));
}

void hideUriPasswords(int argc, char** argv) {
    for (int index = 1; index < argc; ++index) {
        const std::string word = argv[index];
        const std::size_t uri = uriStart(word);  // also after "--history="
        if (uri == std::string::npos) continue;
        for (const auto& [offset, length] : uriPasswordSpans(word.substr(uri))) {
            for (std::size_t character = 0; character < length; ++character)
                argv[index][uri + offset + character] = 'x';
        }
    }
}

std::string passwordWarning(const HistoryTarget& target) {
    if (!uriHasPassword(target.serverUri)) return {};
    const char* where = target.source == ServerSource::CommandLine ? "the command line"
                        : target.source == ServerSource::Config    ? "config.ini"
                                                                   : nullptr;
    if (where == nullptr) return {};
    return std::string("history: the server URI holds a password, which other local users can read from ") +
           where + "; keep it in ~/.pgpass or PGPASSFILE instead";
}

std::string historyVariable() {
    const char* value = std::getenv(kHistoryVariable);
    return value != nullptr ? value : std::string{};
}

}  // namespace velmora::history
