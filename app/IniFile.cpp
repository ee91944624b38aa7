#include "app/IniFile.h"

#include <iniparser.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "app/SafeFile.h"

namespace velmora {
namespace {

constexpr const char* kIniparserPrefix = "iniparser: ";

// iniparser reports through one process-wide callback; loads take turns.
std::mutex& loadMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& lastComplaint() {
    static std::string complaint;
    return complaint;
}

int keepComplaint(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (lastComplaint().empty()) lastComplaint() = text;
    return length;
}

// "iniparser: syntax error in /proc/self/fd/5 (3):\n-> [x\n" becomes
// "syntax error in /etc/x.ini (3): [x".
std::string reworded(std::string complaint, const std::string& openedAs, const std::string& path) {
    if (complaint.rfind(kIniparserPrefix, 0) == 0) complaint.erase(0, std::string(kIniparserPrefix).size());
    for (std::size_t at = complaint.find(openedAs); at != std::string::npos; at = complaint.find(openedAs)) {
        complaint.replace(at, openedAs.size(), path);
    }
    for (std::size_t at = complaint.find(":\n-> "); at != std::string::npos; at = complaint.find(":\n-> ")) {
        complaint.replace(at, 5, ": ");
    }
    while (!complaint.empty() && (complaint.back() == '\n' || complaint.back() == ' ')) complaint.pop_back();
    return complaint.empty() ? "not a valid INI file" : complaint;
}

}  // namespace

void IniDictionaryDeleter::operator()(_dictionary_* dictionary) const {
    iniparser_freedict(dictionary);
}

IniLoad loadIniFile(const std::string& path) {
    IniLoad result;
    const int descriptor = openRegularFile(path, result.error);
    if (descriptor < 0) return result;
    // iniparser opens by name: it is given the file already opened and checked, so
    // the path cannot be swapped for a FIFO in between.
    const std::string openedAs = "/proc/self/fd/" + std::to_string(descriptor);
    {
        const std::lock_guard lock(loadMutex());
        lastComplaint().clear();
        iniparser_set_error_callback(keepComplaint);
        result.dictionary.reset(iniparser_load(openedAs.c_str()));
        iniparser_set_error_callback(nullptr);
        if (!result.dictionary) result.error = reworded(lastComplaint(), openedAs, path);
    }
    ::close(descriptor);
    return result;
}

}  // namespace velmora
