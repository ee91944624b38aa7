#include "backups/BackupStore.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <set>
#include <tuple>
#include <utility>

#include "app/AtomicFile.h"
#include "app/FileLock.h"
#include "app/Hex.h"
#include "app/IsoTime.h"
#include "app/RunId.h"
#include "app/Sha256.h"

namespace velmora::backups {
namespace {

constexpr const char* kEntrySuffix = ".entry";
constexpr const char* kUnfinished = "unfinished";
constexpr const char* kSuccess = "success";
constexpr const char* kFailure = "failure";
constexpr unsigned kOwnerOnlyFile = 0600;
// No backup is larger than any flash the hubs carry; a bigger file is not ours.
constexpr std::size_t kLargestFile = 16 * 1024 * 1024;

bool isContentsName(const std::string& name) {
    return name.size() == 64 && isHexDigits(name, HexCase::Lower);
}

// Writes bytes to folder/name so that the name holds either nothing or all of
// them, private to this user whatever stood there.
bool writeWhole(const std::string& folder, const std::string& name, const std::string& bytes,
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

using EntryFields = std::array<std::pair<const char*, std::string BackupEntry::*>, 9>;
constexpr EntryFields kEntryFields = {{{"run", &BackupEntry::runId},
                                       {"time", &BackupEntry::time},
                                       {"origin", &BackupEntry::origin},
                                       {"port", &BackupEntry::port},
                                       {"ids", &BackupEntry::hubIds},
                                       {"version", &BackupEntry::version},
                                       {"serial", &BackupEntry::serial},
                                       {"sha256", &BackupEntry::sha256},
                                       {"result", &BackupEntry::result}}};
constexpr const char* kSequenceKey = "sequence";

std::string entryText(const BackupEntry& entry) {
    std::string text = std::string(kSequenceKey) + "=" + std::to_string(entry.sequence) + "\n";
    for (const auto& [key, field] : kEntryFields)
        text += std::string(key) + "=" + fieldText(entry.*field) + "\n";
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
        const std::string value = line.substr(equals + 1);
        if (key == kSequenceKey) {
            std::from_chars(value.data(), value.data() + value.size(), entry.sequence);
            continue;
        }
        for (const auto& [name, field] : kEntryFields) {
            if (key == name) entry.*field = value;
        }
    }
    if (!isRunIdText(entry.runId) || !isContentsName(entry.sha256)) return std::nullopt;
    return entry;
}

std::optional<std::vector<std::string>> namesIn(const std::string& folder, std::string& error) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) {
        error = folder + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* item = ::readdir(listing)) names.emplace_back(item->d_name);
    ::closedir(listing);
    return names;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Storing and pruning take turns across processes, so a prune never removes
// contents whose entry is being written.
FileLock lockStore(const std::string& folder, std::string& error) {
    return lockFolder(folder, LockWait::Forever, {}, error);
}

}  // namespace

std::string BackupEntry::unit() const {
    return serial.empty() ? "port " + port : "serial " + serial;
}

std::vector<std::size_t> entriesToPrune(const std::vector<BackupEntry>& entries, std::size_t runsKept) {
    std::vector<std::size_t> removed;
    if (entries.size() <= runsKept) return removed;
    const std::size_t firstKept = entries.size() - runsKept;
    for (std::size_t index = 0; index < firstKept; ++index) {
        const BackupEntry& entry = entries[index];
        bool passedSince = entry.result == kSuccess;
        for (std::size_t later = index + 1; !passedSince && later < entries.size(); ++later) {
            passedSince = entries[later].unit() == entry.unit() && entries[later].result == kSuccess;
        }
        if (passedSince) removed.push_back(index);
    }
    return removed;
}

BackupStore::BackupStore(std::string folder, FolderCreation creation, RunOrigin origin, std::size_t runsKept)
    : folder_(std::move(folder)), creation_(creation), origin_(origin), runsKept_(runsKept) {}

// The folder without links, once it passes the rules (and was made when it may be).
std::optional<std::string> BackupStore::ready(std::string& error) const {
    if (folder_.empty()) {
        error = "no home folder to keep backups in";
        return std::nullopt;
    }
    const std::optional<std::filesystem::path> real = keptFolder(folder_, creation_, error);
    if (!real) return std::nullopt;
    return real->string();
}

bool BackupStore::store(const std::vector<std::uint8_t>& contents, BackupEntry& entry, std::string& error) {
    const std::optional<std::string> folder = ready(error);
    if (!folder) return false;
    entry.sha256 = sha256Hex(contents.data(), contents.size());
    entry.origin = storedOrigin(origin_);
    if (entry.result.empty()) entry.result = kUnfinished;
    const FileLock lock = lockStore(*folder, error);
    if (!lock.held()) return false;
    const std::optional<std::vector<BackupEntry>> entries = list(error);
    if (!entries) return false;
    // Later than every entry kept; an entry that already holds the highest
    // number (a damaged one) cannot push the count round to the first.
    const std::uint64_t last = entries->empty() ? 0 : entries->back().sequence;
    entry.sequence = last == std::numeric_limits<std::uint64_t>::max() ? last : last + 1;
    // Same name, same content: a file already there is kept when it still matches.
    std::string ignored;
    if (!load(entry.sha256, ignored) &&
        !writeWhole(*folder, entry.sha256, std::string(contents.begin(), contents.end()), error))
        return false;
    return writeWhole(*folder, entry.runId + kEntrySuffix, entryText(entry), error);
}

std::optional<KeptBackup> BackupStore::keep(const std::vector<std::uint8_t>& contents,
                                            const FlashBackupInfo& info, std::string& problem) {
    BackupEntry entry;
    entry.runId = info.run.empty() ? RunId::make().text() : info.run.text();
    entry.time = isoUtc(wallNow());
    entry.port = info.port;
    entry.hubIds = info.hubIds;
    entry.version = info.version;
    entry.serial = info.serial;
    if (!store(contents, entry, problem)) return std::nullopt;
    return KeptBackup{*RunId::parse(entry.runId), entry.sha256};
}

bool BackupStore::finish(const RunId& run, bool succeeded, std::string& error) {
    if (run.empty()) {
        error = "a backup without its run's name";
        return false;
    }
    const std::optional<std::string> folder = ready(error);
    if (!folder) return false;
    {
        const FileLock lock = lockStore(*folder, error);
        if (!lock.held()) return false;
        const std::string name = run.text() + kEntrySuffix;
        const std::optional<std::string> text = readKeptFile(*folder + "/" + name, kLargestFile, error);
        std::optional<BackupEntry> entry = text ? parseEntry(*text) : std::nullopt;
        if (!entry) {
            if (error.empty()) error = name + " is damaged";
            return false;
        }
        entry->result = succeeded ? kSuccess : kFailure;
        if (!writeWhole(*folder, name, entryText(*entry), error)) return false;
    }
    std::string pruneProblem;
    prune(pruneProblem);
    return true;
}

std::optional<std::vector<BackupEntry>> BackupStore::list(std::string& error) const {
    std::vector<BackupEntry> entries;
    struct stat info {};
    // A store never made holds no backup yet; nothing is made by looking.
    if (creation_ == FolderCreation::Create && ::lstat(folder_.c_str(), &info) != 0 && errno == ENOENT)
        return entries;
    const std::optional<std::string> folder = ready(error);
    if (!folder) return std::nullopt;
    const std::optional<std::vector<std::string>> names = namesIn(*folder, error);
    if (!names) return std::nullopt;
    for (const std::string& name : *names) {
        if (!endsWith(name, kEntrySuffix)) continue;
        std::string ignored;
        const std::optional<std::string> text = readKeptFile(*folder + "/" + name, kLargestFile, ignored);
        if (!text) continue;
        if (std::optional<BackupEntry> entry = parseEntry(*text)) entries.push_back(std::move(*entry));
    }
    std::sort(entries.begin(), entries.end(), [](const BackupEntry& left, const BackupEntry& right) {
        return std::tie(left.sequence, left.time, left.runId) <
               std::tie(right.sequence, right.time, right.runId);
    });
    return entries;
}

std::optional<std::vector<BackupEntry>> BackupStore::own(std::string& error) const {
    std::optional<std::vector<BackupEntry>> entries = list(error);
    if (entries) {
        const std::string origin = storedOrigin(origin_);
        std::erase_if(*entries, [&origin](const BackupEntry& entry) { return entry.origin != origin; });
    }
    return entries;
}

std::optional<std::vector<std::uint8_t>> BackupStore::load(const std::string& sha256,
                                                           std::string& error) const {
    if (!isContentsName(sha256)) {
        error = "not a backup's name: " + sha256;
        return std::nullopt;
    }
    const std::optional<std::string> folder = ready(error);
    if (!folder) return std::nullopt;
    const std::optional<std::string> text = readKeptFile(*folder + "/" + sha256, kLargestFile, error);
    if (!text) return std::nullopt;
    std::vector<std::uint8_t> contents(text->begin(), text->end());
    if (sha256Hex(contents.data(), contents.size()) != sha256) {
        error = folder_ + "/" + sha256 + " no longer matches its name";
        return std::nullopt;
    }
    return contents;
}

std::size_t BackupStore::prune(std::string& error) {
    const std::optional<std::string> folder = ready(error);
    if (!folder) return 0;
    const FileLock lock = lockStore(*folder, error);
    if (!lock.held()) return 0;
    const std::optional<std::vector<BackupEntry>> entries = list(error);
    if (!entries) return 0;
    std::vector<BackupEntry> ownEntries;
    for (const BackupEntry& entry : *entries)
        if (entry.origin == storedOrigin(origin_)) ownEntries.push_back(entry);
    const std::vector<std::size_t> removed = entriesToPrune(ownEntries, runsKept_);
    std::set<std::string> gone;
    for (const std::size_t index : removed) {
        gone.insert(ownEntries[index].runId);
        ::unlink((*folder + "/" + ownEntries[index].runId + kEntrySuffix).c_str());
    }
    // Contents no kept entry of any origin names any more go too.
    std::set<std::string> named;
    for (const BackupEntry& entry : *entries)
        if (gone.count(entry.runId) == 0) named.insert(entry.sha256);
    const std::optional<std::vector<std::string>> names = namesIn(*folder, error);
    for (const std::string& name : names.value_or(std::vector<std::string>{})) {
        if (isContentsName(name) && named.count(name) == 0) ::unlink((*folder + "/" + name).c_str());
    }
    return removed.size();
}

}  // namespace velmora::backups
