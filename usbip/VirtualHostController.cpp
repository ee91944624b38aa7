#include "usbip/VirtualHostController.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

unsigned portFor(bool superSpeed) {
    return superSpeed ? kSuperSpeedPort : kHighSpeedPort;
}

}  // namespace

bool SysfsHostController::attach(int socket, std::uint32_t deviceId, bool superSpeed, std::string& error) {
    const std::string line = std::to_string(portFor(superSpeed)) + " " + std::to_string(socket) + " " +
                             std::to_string(deviceId) + " " +
                             std::to_string(superSpeed ? kKernelSuperSpeed : kKernelHighSpeed);
    return writeControlFile(folder_ + "/attach", line, error);
}

bool SysfsHostController::detach(bool superSpeed, std::string& error) {
    return writeControlFile(folder_ + "/detach", std::to_string(portFor(superSpeed)), error);
}

}  // namespace velmora::usbip
