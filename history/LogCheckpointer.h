#pragma once
// Checkpoints the history file's write-ahead log on a thread of its own. A
// checkpoint copies the log into the database file and waits for the disk to
// flush it; left to SQLite, it falls on whichever write filled the log, that is
// in the middle of some run. The recorder's connection defers them, and this
// thread does them beside the runs: after so many writes, at the first quiet
// moment (a checkpoint's flush slows the disk writes made meanwhile), or at the
// latest when the log has grown long.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace velmora::history {

class HistoryDatabase;
class StationFile;

// Writes before a checkpoint is due: a run writes its row about ten times, each
// write a few pages, so the log stays near SQLite's own 1000-page mark.
inline constexpr std::size_t kWritesPerCheckpoint = 200;
// A due checkpoint waits for this long without a write...
inline constexpr std::chrono::milliseconds kQuietBeforeCheckpoint{250};
// ...but no longer than this many writes (a log of some tens of megabytes).
inline constexpr std::size_t kMostWritesPerCheckpoint = 20000;

class LogCheckpointer {
public:
    // Checkpoints file's log on a connection of its own.
    explicit LogCheckpointer(std::shared_ptr<StationFile> file);
    // The last connection to close checkpoints the rest itself.
    ~LogCheckpointer();
    LogCheckpointer(const LogCheckpointer&) = delete;
    LogCheckpointer& operator=(const LogCheckpointer&) = delete;

    // One more write went into the log.
    void written();

private:
    void work();

    std::shared_ptr<StationFile> file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t writes_ = 0;
    std::chrono::steady_clock::time_point lastWrite_;
    bool stopping_ = false;
    std::unique_ptr<HistoryDatabase> database_;  // the thread's own connection
    std::thread thread_;                         // last: starts once everything above is ready
};

}  // namespace velmora::history
