#pragma once
// Scanned unit IDs as lines on a file descriptor (standard input, where a
// scanner in keyboard mode types a label and Enter), read on a thread of its own
// until the reader goes or the input ends.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace velmora::cli {

class ScanReader {
public:
    // Each whole line goes to take, without its line end, on the reader's thread.
    ScanReader(int fd, std::function<void(const std::string& line)> take);
    ~ScanReader();  // stops reading within a fraction of a second
    ScanReader(const ScanReader&) = delete;
    ScanReader& operator=(const ScanReader&) = delete;

private:
    void read();

    int fd_;
    std::function<void(const std::string&)> take_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace velmora::cli
