#pragma once
// Scanned unit IDs as lines on a file descriptor (standard input, where a
// scanner in keyboard mode types a label and Enter): the lines waiting already
// are taken as the reader is made, the rest on a thread of its own until the
// reader goes or the input ends.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace velmora::cli {

class ScanReader {
public:
    // Each whole line goes to take, without its line end: those waiting now
    // before the constructor returns, the later ones on the reader's thread.
    ScanReader(int fd, std::function<void(const std::string& line)> take);
    ~ScanReader();  // stops reading within a fraction of a second
    ScanReader(const ScanReader&) = delete;
    ScanReader& operator=(const ScanReader&) = delete;

private:
    enum class Got { Bytes, Nothing, Ended };
    // One read, after waiting up to waitMs for input.
    Got readSome(int waitMs);
    void read();
    void ended();

    int fd_;
    std::function<void(const std::string&)> take_;
    char buffer_[512];
    std::string line_;  // the line being read
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace velmora::cli
