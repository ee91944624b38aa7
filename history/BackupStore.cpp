#include "history/BackupStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <utility>

#include "app/AtomicFile.h"
#include "app/Hex.h"
#include "history/HistoryFile.h"
#include "history/HistoryRecord.h"
#include "history/ImageDigest.h"
#include "history/IsoTime.h"

namespace velmora::history {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEntrySuffix = ".entry";
constexpr mode_t kOwnerOnlyFile = 0600;
// No backup is larger than any flash the hubs carry; a bigger file is not ours.
constexpr off_t kLargestFile = 16 * 1024 * 1024;

bool isHexName(const std::string& name, std::size_t length) {
    return name.size() == length && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool isRunId(const std::string& name) {
    if (name.size() != 36) return false;
    for (std::size_t index = 0; index < name.size(); ++index) {
        const bool dash = index == 8 || index == 13 || index == 18 || index == 23;
        const char c = name[index];
        if (dash != (c == '-')) return false;
        if (!dash && !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::string systemError(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

// This user's own regular file at path, read whole; never a link, FIFO or device.
std::optional<std::string> readOwnFile(const std::string& path, std::string& error) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        error = systemError(path);
        return std::nullopt;
    }
    struct stat info {};
    std::optional<std::string> contents;
    if (::fstat(descriptor, &info) != 0) {
        error = systemError(path);
    } else if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_size > kLargestFile) {
        error = path + " is not a backup file of this user";
    } else {
        std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(descriptor, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        if (done == bytes.size()) {
            contents = std::move(bytes);
        } else {
            error = path + ": cannot be read whole";
        }
    }
    ::close(descriptor);
    return contents;
}

// Writes bytes to folder/name so that the name holds either nothing or all of
// them, private to this user whatever stood there.
bool writeAtomically(const std::string& folder, const std::string& name, const std::string& bytes,
                     std::string& error) {
    const std::string target = folder + "/" + name;
    const FileWriteResult result = writeFileAtomically(
        target, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), kOwnerOnlyFile);
    if (!result.written) error = target + ": " + result.error;
    return result.written;
}

// Keeps the text of an entry field on its one line.
std::string fieldText(const std::string& value) {
    std::string text;
    for (const char c : value) text += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    return text;
}

using EntryFields = std::array<std::pair<const char*, std::string BackupEntry::*>, 8>;
constexpr EntryFields kEntryFields = {{{"run", &BackupEntry::runId},
                                       {"time", &BackupEntry::time},
                                       {"port", &BackupEntry::port},
                                       {"ids", &BackupEntry::hubIds},
                                       {"version", &BackupEntry::version},
                                       {"serial", &BackupEntry::serial},
                                       {"sha256", &BackupEntry::sha256},
                                       {"result", &BackupEntry::result}}};

std::string entryText(const BackupEntry& entry) {
    std::string text;
    for (const auto& [key, field] : kEntryFields) {
        text += key;
        text += '=';
        text += fieldText(entry.*field);
        text += '\n';
    }
    return text;
}

std::optional<BackupEntry> parseEntry(const std::string& text) {
    BackupEntry entry;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        for (const auto& [name, field] : kEntryFields) {
            if (key == name) entry.*field = line.substr(equals + 1);
        }
    }
    if (!isRunId(entry.runId) || !isHexName(entry.sha256, 64)) return std::nullopt;
    return entry;
}

// An flock on the backups folder: storing and pruning take turns across
// processes, so a prune never removes contents whose entry is being written.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : descriptor_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {
        if (descriptor_ >= 0) locked_ = ::flock(descriptor_, LOCK_EX) == 0;
    }
    ~FolderLock() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held(const std::string& folder, std::string& error) const {
        if (!locked_) error = systemError(folder);
        return locked_;
    }

private:
    int descriptor_;
    bool locked_ = false;
};

std::vector<std::string> namesIn(const std::string& folder, std::string& error, bool& readable) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(folder.c_str());
    readable = listing != nullptr;
    if (!readable) {
        error = systemError(folder);
        return names;
    }
    while (const dirent* item = ::readdir(listing)) names.emplace_back(item->d_name);
    ::closedir(listing);
    return names;
}

}  // namespace

std::string defaultBackupsFolder() {
    return defaultStatePath(kBackupsFolderName);
}

std::string newRunId() {
    std::random_device random;
    std::array<std::uint8_t, 16> bytes{};
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // the RFC's variant
    return uuidText(bytes);
}

std::vector<std::size_t> entriesToPrune(const std::vector<BackupEntry>& entries, std::size_t runsKept) {
    std::vector<std::size_t> removed;
    if (entries.size() <= runsKept) return removed;
    const std::size_t firstKept = entries.size() - runsKept;
    for (std::size_t index = 0; index < firstKept; ++index) {
        const BackupEntry& entry = entries[index];
        bool laterPassed = entry.result == kResultSuccess;
        for (std::size_t later = index + 1; !laterPassed && later < entries.size(); ++later) {
            laterPassed = entries[later].port == entry.port && entries[later].result == kResultSuccess;
        }
        if (laterPassed) removed.push_back(index);
    }
    return removed;
}

BackupStore::BackupStore(std::string folder, bool createFolders, std::size_t runsKept)
    : folder_(std::move(folder)), createFolders_(createFolders), runsKept_(runsKept) {}

bool BackupStore::ready(std::string& error) const {
    if (folder_.empty()) {
        error = "no home folder to keep backups in";
        return false;
    }
    return prepareStateFolder(folder_, createFolders_ ? FolderCreation::Create : FolderCreation::MustExist,
                              error);
}

bool BackupStore::store(const std::vector<std::uint8_t>& contents, BackupEntry& entry, std::string& error) {
    if (!ready(error)) return false;
    entry.sha256 = sha256Hex(contents.data(), contents.size());
    if (entry.result.empty()) entry.result = kResultUnfinished;
    FolderLock lock(folder_);
    if (!lock.held(folder_, error)) return false;
    // Same name, same content: a file already there is kept when it still matches.
    std::string ignored;
    const std::optional<std::vector<std::uint8_t>> existing = load(entry.sha256, ignored);
    if (!existing &&
        !writeAtomically(folder_, entry.sha256, std::string(contents.begin(), contents.end()), error))
        return false;
    return writeAtomically(folder_, entry.runId + kEntrySuffix, entryText(entry), error);
}

std::optional<KeptBackup> BackupStore::keep(const std::vector<std::uint8_t>& contents,
                                            const FlashBackupInfo& info, std::string& problem) {
    BackupEntry entry;
    entry.runId = newRunId();
    entry.time = isoUtc(wallNow());
    entry.port = info.port;
    entry.hubIds = info.hubIds;
    entry.version = info.version;
    entry.serial = info.serial;
    if (!store(contents, entry, problem)) return std::nullopt;
    return KeptBackup{entry.runId, entry.sha256};
}

bool BackupStore::finish(const std::string& runId, bool succeeded, std::string& error) {
    if (!isRunId(runId) || !ready(error)) {
        if (error.empty()) error = "not a run id: " + runId;
        return false;
    }
    {
        FolderLock lock(folder_);
        if (!lock.held(folder_, error)) return false;
        const std::optional<std::string> text = readOwnFile(folder_ + "/" + runId + kEntrySuffix, error);
        std::optional<BackupEntry> entry = text ? parseEntry(*text) : std::nullopt;
        if (!entry) {
            if (error.empty()) error = runId + kEntrySuffix + " is damaged";
            return false;
        }
        entry->result = succeeded ? kResultSuccess : kResultFailure;
        if (!writeAtomically(folder_, runId + kEntrySuffix, entryText(*entry), error)) return false;
    }
    std::string pruneProblem;
    prune(pruneProblem);
    return true;
}

std::optional<std::vector<BackupEntry>> BackupStore::list(std::string& error) const {
    bool readable = false;
    const std::vector<std::string> names = namesIn(folder_, error, readable);
    if (!readable) return std::nullopt;
    std::vector<BackupEntry> entries;
    const std::string suffix = kEntrySuffix;
    for (const std::string& name : names) {
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::string ignored;
        const std::optional<std::string> text = readOwnFile(folder_ + "/" + name, ignored);
        if (!text) continue;
        if (std::optional<BackupEntry> entry = parseEntry(*text)) entries.push_back(std::move(*entry));
    }
    std::sort(entries.begin(), entries.end(), [](const BackupEntry& left, const BackupEntry& right) {
        return std::tie(left.time, left.runId) < std::tie(right.time, right.runId);
    });
    return entries;
}

std::optional<std::vector<std::uint8_t>> BackupStore::load(const std::string& sha256,
                                                           std::string& error) const {
    if (!isHexName(sha256, 64)) {
        error = "not a backup's name: " + sha256;
        return std::nullopt;
    }
    const std::optional<std::string> text = readOwnFile(folder_ + "/" + sha256, error);
    if (!text) return std::nullopt;
    std::vector<std::uint8_t> contents(text->begin(), text->end());
    if (sha256Hex(contents.data(), contents.size()) != sha256) {
        error = folder_ + "/" + sha256 + " no longer matches its name";
        return std::nullopt;
    }
    return contents;
}

std::size_t BackupStore::prune(std::string& error) {
    if (!ready(error)) return 0;
    FolderLock lock(folder_);
    if (!lock.held(folder_, error)) return 0;
    const std::optional<std::vector<BackupEntry>> entries = list(error);
    if (!entries) return 0;
    const std::vector<std::size_t> removed = entriesToPrune(*entries, runsKept_);
    std::set<std::size_t> gone(removed.begin(), removed.end());
    for (const std::size_t index : removed) {
        ::unlink((folder_ + "/" + (*entries)[index].runId + kEntrySuffix).c_str());
    }
    // Contents that no entry kept names any more go too.
    std::set<std::string> named;
    for (std::size_t index = 0; index < entries->size(); ++index) {
        if (gone.count(index) == 0) named.insert((*entries)[index].sha256);
    }
    bool readable = false;
    for (const std::string& name : namesIn(folder_, error, readable)) {
        if (isHexName(name, 64) && named.count(name) == 0) ::unlink((folder_ + "/" + name).c_str());
    }
    return removed.size();
}

}  // namespace velmora::history
