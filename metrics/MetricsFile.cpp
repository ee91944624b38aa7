#include "metrics/MetricsFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/AtomicFile.h"
#include "app/SafeFile.h"
#include "metrics/MetricsMessages.h"

namespace velmora::metrics {
namespace {

// node_exporter runs as a user of its own and must read the file whatever the
// station's umask; the figures hold nothing secret.
constexpr unsigned kMetricsFilePermissions = 0644;

std::string folderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A file another user left at the path is theirs: a run as root would
// otherwise replace it.
bool checkNotAnotherUsers(const std::string& path, std::string& error) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && info.st_uid != ::geteuid()) {
        error = "belongs to another user; not replaced";
        return false;
    }
    return true;
}

bool writeMetricsFile(const std::string& path, const std::string& text, std::string& error) {
    if (!checkNotAnotherUsers(path, error)) return false;
    const FileWriteResult result = writeFileAtomically(
        path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), kMetricsFilePermissions);
    error = result.error;
    return result.written;
}

}  // namespace

bool checkMetricsFile(const std::string& path, std::string& error) {
    std::string reason;
    if (!endsWith(std::filesystem::path(path).filename().string(), messages::kMetricsFileSuffix)) {
        error = messages::badMetricsFileName(path);
        return false;
    }
    if (!checkWritableFolder(folderOf(path), reason) || !checkReplaceableTarget(path, reason) ||
        !checkNotAnotherUsers(path, reason)) {
        error = messages::metricsFileNotWritten(path, reason);
        return false;
    }
    return true;
}

MetricsFile::MetricsFile(std::string path, MetricsSource source, std::function<void(const std::string&)> tell)
    : path_(std::move(path)), source_(std::move(source)), tell_(std::move(tell)) {
    writer_ = std::thread([this] { writeWhenAsked(); });
}

MetricsFile::~MetricsFile() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    asked_.notify_one();
    writer_.join();
}

void MetricsFile::update() {
    {
        std::lock_guard lock(mutex_);
        ++asks_;
    }
    asked_.notify_one();
}

void MetricsFile::flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t asked = asks_;
    written_.wait(lock, [this, asked] { return answered_ >= asked; });
}

void MetricsFile::writeWhenAsked() {
    std::unique_lock lock(mutex_);
    while (true) {
        asked_.wait(lock, [this] { return asks_ > answered_ || stopping_; });
        if (asks_ == answered_) return;
        const std::uint64_t taking = asks_;
        lock.unlock();
        writeOnce();
        lock.lock();
        answered_ = taking;
        written_.notify_all();
        asked_.wait_for(lock, kMetricsFileLeastGap, [this] { return stopping_; });
    }
}

void MetricsFile::writeOnce() {
    std::string error;
    const bool written = writeMetricsFile(path_, source_(ExpositionFormat::PrometheusText), error);
    if (written == !failing_) return;
    failing_ = !written;
    if (tell_)
        tell_(written ? messages::metricsFileWrittenAgain(path_)
                      : messages::metricsFileNotWritten(path_, error));
}

}  // namespace velmora::metrics
