#include "history/StationFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace velmora::history {
namespace {

namespace fs = std::filesystem;

// What SQLite leaves beside a database it opened.
constexpr const char* kCompanionSuffixes[] = {"-wal", "-shm", "-journal"};

fs::path absolute(const std::string& path) {
    std::error_code failure;
    fs::path result = fs::absolute(path, failure);
    return failure ? fs::path(path) : result.lexically_normal();
}

bool sameInode(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// A new history is made under a name of its own (this user's alone, 0600) and
// laid out before it takes its name, so that an open that fails leaves nothing
// behind and no other run ever meets it half made. When another run gave the
// name a file first, that one stands. The file is closed again before anyone
// else can know it: no lock of this process is dropped.
bool makeNewFile(const fs::path& real, std::string& error) {
    std::string made = real.string() + ".new-XXXXXX";
    const int descriptor = ::mkostemp(made.data(), O_CLOEXEC);
    if (descriptor < 0) {
        error = real.string() + " " + std::strerror(errno);
        return false;
    }
    ::close(descriptor);
    bool laidOut = HistoryDatabase::open(made, error) != nullptr;  // closed at once: its log folded in
    if (laidOut && ::link(made.c_str(), real.c_str()) != 0 && errno != EEXIST) {
        error = real.string() + " " + std::strerror(errno);
        laidOut = false;
    }
    for (const char* suffix : kCompanionSuffixes) ::unlink((made + suffix).c_str());
    ::unlink(made.c_str());
    return laidOut;
}

}  // namespace

std::shared_ptr<StationFile> StationFile::open(const std::string& path, FolderCreation creation,
                                               std::string& error) {
    bool missing = false;
    return openChecked(path, creation, true, missing, error);
}

std::shared_ptr<StationFile> StationFile::openExisting(const std::string& path, bool& missing,
                                                       std::string& error) {
    missing = false;
    return openChecked(path, FolderCreation::MustExist, false, missing, error);
}

std::shared_ptr<StationFile> StationFile::openChecked(const std::string& path, FolderCreation creation,
                                                      bool mayCreate, bool& missing, std::string& error) {
    if (path.empty()) {
        error = "no home folder to keep the history in";
        return nullptr;
    }
    const fs::path named = absolute(path);
    if (!mayCreate) {
        struct stat folder {};
        if (::stat(named.parent_path().c_str(), &folder) != 0 && errno == ENOENT) {
            missing = true;
            return nullptr;
        }
    }
    const std::optional<fs::path> folder = keptFolder(named.parent_path(), creation, error);
    if (!folder) return nullptr;
    const fs::path real = *folder / named.filename();
    // Looked at before SQLite opens it, and never again while it is open.
    struct stat checked {};
    if (::lstat(real.c_str(), &checked) != 0) {
        if (errno != ENOENT) {
            error = named.string() + " " + std::strerror(errno);
            return nullptr;
        }
        if (!mayCreate) {
            missing = true;
            return nullptr;
        }
        if (!makeNewFile(real, error)) return nullptr;
        if (::lstat(real.c_str(), &checked) != 0) {
            error = named.string() + " " + std::strerror(errno);
            return nullptr;
        }
    }
    if (!checkOwnRegularFile(named, checked, error)) return nullptr;
    std::unique_ptr<HistoryDatabase> database = HistoryDatabase::open(real.string(), error);
    struct stat opened {};
    if (database && (::lstat(real.c_str(), &opened) != 0 || !sameInode(opened, checked))) {
        database.reset();
        error = "was replaced while it was opened";
    }
    if (!database) return nullptr;
    return std::shared_ptr<StationFile>(new StationFile(path, real.string(), std::move(database)));
}

std::unique_ptr<HistoryDatabase> StationFile::openConnection(std::string& error) const {
    return HistoryDatabase::open(realPath_, error);
}

std::shared_ptr<StationFile> StationFileAccess::open(std::string& error) {
    std::lock_guard lock(mutex_);
    if (!file_) file_ = StationFile::open(path_, creation_, error);
    return file_;
}

std::shared_ptr<StationFile> StationFileAccess::openExisting(bool& missing, std::string& error) {
    std::lock_guard lock(mutex_);
    missing = false;
    if (!file_) file_ = StationFile::openExisting(path_, missing, error);
    return file_;
}

}  // namespace velmora::history
