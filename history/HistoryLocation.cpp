#include "history/HistoryLocation.h"

#include <algorithm>
#include <cstdlib>

namespace velmora::history {
namespace {

constexpr const char* kSchemes[] = {"postgresql://", "postgres://"};

std::size_t schemeLength(const std::string& text) {
    for (const std::string scheme : kSchemes) {
        if (text.compare(0, scheme.size(), scheme) == 0) return scheme.size();
    }
    return 0;
}

// The value of every "password=" parameter after the "?".
void addParameterSpans(const std::string& uri, std::vector<std::pair<std::size_t, std::size_t>>& spans) {
    const std::size_t query = uri.find('?');
    if (query == std::string::npos) return;
    std::size_t start = query + 1;
    while (start <= uri.size()) {
        std::size_t end = uri.find('&', start);
        if (end == std::string::npos) end = uri.size();
        const std::string name = "password=";
        if (uri.compare(start, name.size(), name) == 0 && end > start + name.size())
            spans.emplace_back(start + name.size(), end - start - name.size());
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
    // The user information ends at the last "@" before the path or the parameters.
    const std::size_t authorityEnd = std::min(uri.find_first_of("/?", begin), uri.size());
    const std::size_t at = uri.rfind('@', authorityEnd == 0 ? 0 : authorityEnd - 1);
    if (at != std::string::npos && at >= begin) {
        const std::size_t colon = uri.find(':', begin);
        if (colon != std::string::npos && colon < at && at > colon + 1)
            spans.emplace_back(colon + 1, at - colon - 1);
    }
    addParameterSpans(uri, spans);
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
    for (const auto& [offset, length] : uriPasswordSpans(uri)) {
        const std::string secret = uri.substr(offset, length);
        for (std::size_t found = message.find(secret); found != std::string::npos;
             found = message.find(secret, found + 3)) {
            message.replace(found, secret.size(), "***");
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
    target.serverUri = named;
    return target;
}

bool uriHasPassword(const std::string& uri) {
    return !uriPasswordSpans(uri).empty();
}

void hideUriPasswords(int argc, char** argv) {
    for (int index = 1; index < argc; ++index) {
        const std::string word = argv[index];
        const std::size_t uri = word.find("postgres");  // also after "--history="
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
