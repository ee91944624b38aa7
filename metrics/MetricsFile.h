#pragma once
// The figures as a file, for node_exporter's textfile collector: the Prometheus
// text format (the collector reads no other), written whole by atomic rename so
// the collector never reads half a file. The collector reads only files named
// *.prom, so another name is refused rather than written where nobody reads it.
//
// The file is written on a thread of its own, so a unit that asks for it never
// waits for the disk; asks that come while it writes, or within the least gap
// after a write, are served by one more write: a busy station writes it a few
// times a second at most, however many units end.
// The output rules of every file this program writes hold: a symbolic link or
// anything but a regular file at the path is never replaced, nor a file of
// another user's. The file is readable by everyone (0644), whatever the umask:
// the collector runs as a user of its own.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "metrics/Exposition.h"

namespace velmora::metrics {

// The least time between two writes of the file.
inline constexpr std::chrono::milliseconds kMetricsFileLeastGap{250};

// False, with error, when the file could not be written at path: not named
// *.prom, a folder that is missing or not writable, or a target that must not be
// replaced. For the front end, before anything runs.
bool checkMetricsFile(const std::string& path, std::string& error);

class MetricsFile {
public:
    // tell: a line for the operator, once when writing fails and once when it
    // works again (on the file's thread).
    MetricsFile(std::string path, MetricsSource source, std::function<void(const std::string&)> tell);
    ~MetricsFile();  // writes the figures a last time if asked, then stops
    MetricsFile(const MetricsFile&) = delete;
    MetricsFile& operator=(const MetricsFile&) = delete;

    // Asks for the file to be written with the figures as they are then. Cheap.
    void update();
    // Waits until what was asked before is written (or failed, and told).
    void flush();

private:
    void writeWhenAsked();
    void writeOnce();

    std::string path_;
    MetricsSource source_;
    std::function<void(const std::string&)> tell_;
    bool failing_ = false;  // the file's thread only
    std::mutex mutex_;
    std::condition_variable asked_;
    std::condition_variable written_;
    std::uint64_t asks_ = 0;      // updates asked for
    std::uint64_t answered_ = 0;  // the asks the last finished write took in
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace velmora::metrics
