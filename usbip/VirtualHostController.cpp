#include "usbip/VirtualHostController.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace velmora::usbip {

namespace {

constexpr const char* kHighSpeedPortTag = "hs";
constexpr const char* kSuperSpeedPortTag = "ss";
constexpr unsigned kFreePortState = 4;  // VDEV_ST_NULL: nothing attached
// The controllers a kernel can be built with, at most: status, status.1 ... status.31.
constexpr int kMostControllers = 32;

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

struct ListedPort {
    unsigned number = 0;
    bool free = false;
};

}  // namespace

std::vector<PortPair> freePortPairs(const std::vector<std::string>& statusTexts) {
    std::vector<PortPair> pairs;
    for (const std::string& text : statusTexts) {
        std::vector<ListedPort> highSpeed;
        std::vector<ListedPort> superSpeed;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            std::string tag;
            ListedPort port;
            unsigned state = 0;
            if (!(words >> tag >> port.number >> state)) continue;
            port.free = state == kFreePortState;
            if (tag == kHighSpeedPortTag) highSpeed.push_back(port);
            if (tag == kSuperSpeedPortTag) superSpeed.push_back(port);
        }
        for (std::size_t index = 0; index < highSpeed.size() && index < superSpeed.size(); ++index) {
            if (highSpeed[index].free && superSpeed[index].free)
                pairs.push_back({highSpeed[index].number, superSpeed[index].number});
        }
    }
    return pairs;
}

bool SysfsHostController::freePairs(std::vector<PortPair>& pairs, std::string& error) const {
    std::vector<std::string> texts;
    for (int controller = 0; controller < kMostControllers; ++controller) {
        const std::string path =
            folder_ + "/status" + (controller == 0 ? "" : "." + std::to_string(controller));
        std::ifstream file(path);
        if (!file) break;
        std::stringstream text;
        text << file.rdbuf();
        texts.push_back(text.str());
    }
    if (texts.empty()) {
        error = "no status file in " + folder_ + " (modprobe vhci-hcd)";
        return false;
    }
    pairs = freePortPairs(texts);
    return true;
}

bool SysfsHostController::attach(int socket, unsigned port, std::uint32_t deviceId, bool superSpeed,
                                 std::string& error) {
    const std::string line = std::to_string(port) + " " + std::to_string(socket) + " " +
                             std::to_string(deviceId) + " " +
                             std::to_string(superSpeed ? kKernelSuperSpeed : kKernelHighSpeed);
    return writeControlFile(folder_ + "/attach", line, error);
}

bool SysfsHostController::detach(unsigned port, std::string& error) {
    return writeControlFile(folder_ + "/detach", std::to_string(port), error);
}

}  // namespace velmora::usbip
