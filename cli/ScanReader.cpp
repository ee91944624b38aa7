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
// At most this much of what waits at the start is taken before the station's
// first look (a thousand labels); the rest comes on the reader's thread.
constexpr std::size_t kMostAtStart = 64 * 1024;

}  // namespace

ScanReader::ScanReader(int fd, std::function<void(const std::string& line)> take)
    : fd_(fd), take_(std::move(take)) {
    // The IDs scanned before the station started (typed ahead into the terminal,
    // or a file's lines) are taken now, before its first look at the bus: the
    // units of a fixture closed before the start take them in port order, as
    // they would had they arrived after the scans.
    std::size_t taken = 0;
    Got got = Got::Bytes;
    while (taken < kMostAtStart && (got = readSome(0)) == Got::Bytes) taken += sizeof buffer_;
    if (got == Got::Ended) {
        ended();
        return;
    }
    thread_ = std::thread([this] { read(); });
}

ScanReader::~ScanReader() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

ScanReader::Got ScanReader::readSome(int waitMs) {
    pollfd watched{fd_, POLLIN, 0};
    const int ready = ::poll(&watched, 1, waitMs);
    if (ready < 0 && errno == EINTR) return Got::Nothing;
    if (ready < 0) return Got::Ended;
    if (ready == 0) return Got::Nothing;
    const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return Got::Nothing;
    if (got <= 0) return Got::Ended;  // the input ended (or cannot be read)
    for (ssize_t index = 0; index < got; ++index) {
        if (buffer_[index] == '\n') {
            take_(line_);
            line_.clear();
        } else if (line_.size() < kMostLine) {
            line_ += buffer_[index];
        }
    }
    return Got::Bytes;
}

void ScanReader::read() {
    while (!stopping_) {
        if (readSome(kLookMs) == Got::Ended) {
            ended();
            return;
        }
    }
}

void ScanReader::ended() {
    // What was typed last, without its line end, still counts.
    if (!line_.empty()) take_(line_);
    line_.clear();
}

}  // namespace velmora::cli
