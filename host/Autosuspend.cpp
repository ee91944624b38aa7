#include "host/Autosuspend.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

#include "device/UsbPlatform.h"

namespace velmora::host {
namespace {

constexpr const char* kAwake = "on";

// The first line of a sysfs attribute; empty when it cannot be read.
std::string attribute(const std::filesystem::path& file) {
    std::ifstream stream(file);
    std::string line;
    std::getline(stream, line);
    return line;
}

// 0, or the errno of the failure.
int writeAttribute(const std::filesystem::path& file, const std::string& value) {
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) return errno;
    const ssize_t written = ::write(descriptor, value.data(), value.size());
    const int error = written == static_cast<ssize_t>(value.size()) ? 0 : (written < 0 ? errno : EIO);
    ::close(descriptor);
    return error;
}

}  // namespace

AutosuspendHold::AutosuspendHold(std::filesystem::path sysfsRoot, std::string portPath)
    : device_(std::move(sysfsRoot) / "bus/usb/devices" / portPath), portPath_(std::move(portPath)) {}

std::filesystem::path AutosuspendHold::controlFile() const {
    return device_ / "power/control";
}

std::string AutosuspendHold::deviceNumber() const {
    return attribute(device_ / "devnum");
}

AutosuspendOutcome AutosuspendHold::begin(std::string& detail) {
    if (!isPlainPortPath(portPath_)) {
        detail = "'" + portPath_ + "' is not a USB port";
        return AutosuspendOutcome::Failed;
    }
    const std::string value = attribute(controlFile());
    if (value.empty()) {
        detail = controlFile().string() + " cannot be read";
        return AutosuspendOutcome::Failed;
    }
    if (value == kAwake) return AutosuspendOutcome::AlreadyOff;
    const std::string number = deviceNumber();
    if (const int error = writeAttribute(controlFile(), kAwake)) {
        detail = controlFile().string() + ": " + std::strerror(error);
        return error == EACCES || error == EPERM ? AutosuspendOutcome::NotPermitted
                                                 : AutosuspendOutcome::Failed;
    }
    earlier_ = value;
    deviceNumber_ = number;
    detail = value;
    return AutosuspendOutcome::TurnedOff;
}

void AutosuspendHold::end() {
    if (earlier_.empty()) return;
    if (deviceNumber() == deviceNumber_) writeAttribute(controlFile(), earlier_);
    earlier_.clear();
}

}  // namespace velmora::host
