#include "app/GeneralFunction.h"

#include "app/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/Console.h"
#include "app/Utf8.h"

namespace velmora {
namespace {

// Reads one decimal number at the front of text; false when there is none.
bool takeNumber(std::string_view& text, unsigned& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{}) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool takeDot(std::string_view& text) {
    if (text.empty() || text.front() != '.') {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

std::string GeneralFunction::SystemVersionFromRelease(std::string_view release, Console& console) {
    // "6.1.0-28-amd64" or "6.18.44-custom": major and minor are required; a
    // release without a third number reads it as 0.
    std::string_view rest = release;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned patch = 0;
    if (!takeNumber(rest, major) || !takeDot(rest) || !takeNumber(rest, minor)) {
        console.line("Unable to obtain system version: " + std::string(release));
        return kFallbackSystemVersion;
    }
    if (takeDot(rest)) {
        takeNumber(rest, patch);
    }
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

std::string GeneralFunction::GetCurrentSystemVersion(Console& console) {
    utsname name{};
    if (::uname(&name) != 0) {
        console.line("Unable to obtain system version: " + std::to_string(errno));
        return kFallbackSystemVersion;
    }
    return SystemVersionFromRelease(name.release, console);
}

std::string GeneralFunction::GetDirFromPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || slash == 0) {
        return {};
    }
    return std::string(path.substr(0, slash));
}

bool GeneralFunction::PrintNormalLog(std::string_view text, const std::string& logPath) {
    // O_NONBLOCK: a FIFO planted in /tmp under the log's name must not hold up the
    // launch; only a regular file is appended to.
    const int fd =
        ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    std::string line(text);
    line += '\n';
    const bool written = writeAll(fd, line);
    return ::close(fd) == 0 && written;
}

std::optional<std::string> GeneralFunction::GetStringFromFile(const std::string& path) {
    // A FIFO or device at the path reads as a file that cannot be opened.
    std::string error;
    const std::optional<std::string> read = readRegularFile(path, error);
    if (!read) {
        return std::string{};
    }
    const std::string& contents = *read;
    if (!isValidUtf8(contents)) {
        return std::nullopt;
    }
    return contents;
}

}  // namespace velmora
