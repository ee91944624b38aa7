#include "history/LogCheckpointer.h"

#include "history/HistoryDatabase.h"
#include "history/StationFile.h"

namespace velmora::history {

LogCheckpointer::LogCheckpointer(std::shared_ptr<StationFile> file)
    : file_(std::move(file)), thread_([this] { work(); }) {}

LogCheckpointer::~LogCheckpointer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void LogCheckpointer::written() {
    std::lock_guard lock(mutex_);
    lastWrite_ = std::chrono::steady_clock::now();
    ++writes_;
    if (writes_ == kWritesPerCheckpoint || writes_ == kMostWritesPerCheckpoint) changed_.notify_all();
}

void LogCheckpointer::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || writes_ >= kWritesPerCheckpoint; });
        // Due: wait for a moment without writes, unless the log has grown long.
        while (!stopping_ && writes_ < kMostWritesPerCheckpoint &&
               std::chrono::steady_clock::now() - lastWrite_ < kQuietBeforeCheckpoint) {
            changed_.wait_until(lock, lastWrite_ + kQuietBeforeCheckpoint);
        }
        if (stopping_) return;
        writes_ = 0;
        lock.unlock();
        // A checkpoint that cannot be done now is done next time; meanwhile the
        // log only grows, and every row is in it.
        std::string ignored;
        if (!database_) database_ = file_->openConnection(ignored);
        if (database_) database_->checkpoint(ignored);
        lock.lock();
    }
}

}  // namespace velmora::history
