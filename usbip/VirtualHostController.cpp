#include "usbip/VirtualHostController.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace velmora::usbip {

namespace {

// One write of the whole text: the controller parses each write on its own.
bool writeControlFile(const std::string& path, const std::string& text, std::string& error) {
    const int file = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (file < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const ssize_t written = ::write(file, text.data(), text.size());
    const int writeError = errno;
    ::close(file);
    if (written != static_cast<ssize_t>(text.size())) {
        error = "writing '" + text + "' to " + path + " failed: " + std::strerror(writeError);
        return false;
    }
    return true;
}

}  // namespace

bool firstPortInStatus(std::string_view status, std::string_view tag, unsigned& port) {
    std::istringstream lines{std::string(status)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind;
        unsigned number = 0;
        if (words >> kind >> number && kind == tag) {
            port = number;
            return true;
        }
    }
    return false;
}

bool SysfsHostController::firstPort(bool superSpeed, unsigned& port, std::string& error) const {
    const std::string path = folder_ + "/status";
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    if (firstPortInStatus(text.str(), superSpeed ? kSuperSpeedPortTag : kHighSpeedPortTag, port)) return true;
    error = "no " + std::string(superSpeed ? "SuperSpeed" : "High-Speed") + " port listed in " + path;
    return false;
}

bool SysfsHostController::attach(int socket, std::uint32_t deviceId, bool superSpeed, std::string& error) {
    unsigned port = 0;
    if (!firstPort(superSpeed, port, error)) return false;
    const std::string line = std::to_string(port) + " " + std::to_string(socket) + " " +
                             std::to_string(deviceId) + " " +
                             std::to_string(superSpeed ? kKernelSuperSpeed : kKernelHighSpeed);
    return writeControlFile(folder_ + "/attach", line, error);
}

bool SysfsHostController::detach(bool superSpeed, std::string& error) {
    unsigned port = 0;
    return firstPort(superSpeed, port, error) &&
           writeControlFile(folder_ + "/detach", std::to_string(port), error);
}

}  // namespace velmora::usbip
