#include "cli/ScanReader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace velmora::cli {
namespace {

// How long a wait for input lasts before the reader looks whether it should stop.
constexpr int kLookMs = 200;
// A line is kept up to this much: a label is far shorter, and input that never
// ends its line must not grow without bound. The rest up to its end is dropped,
// and what is kept is refused as too long.
constexpr std::size_t kMostLine = 1024;

}  // namespace

ScanReader::ScanReader(int fd, std::function<void(const std::string& line)> take)
    : fd_(fd), take_(std::move(take)), thread_([this] { read(); }) {}

ScanReader::~ScanReader() {
    stopping_ = true;
    thread_.join();
}

void ScanReader::read() {
    std::string line;
    char buffer[512];
    while (!stopping_) {
        pollfd watched{fd_, POLLIN, 0};
        const int ready = ::poll(&watched, 1, kLookMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return;
        if (ready == 0) continue;
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) break;  // the input ended (or cannot be read): what was typed last still counts
        for (ssize_t index = 0; index < got; ++index) {
            if (buffer[index] == '\n') {
                take_(line);
                line.clear();
            } else if (line.size() < kMostLine) {
                line += buffer[index];
            }
        }
    }
    if (!line.empty() && !stopping_) take_(line);
}

}  // namespace velmora::cli
