#pragma once
// The flash backups: before a run erases a hub's flash, the whole flash as it was
// is kept here, so nothing a run erases is ever lost. The store is
// content-addressed: one file per distinct flash content, named by its SHA-256
// (a production line whose units all arrive with the same factory flash keeps
// it once). Beside the contents lies one small index entry per run that made a
// backup (<run id>.entry), so the backups can be listed and restored without any
// history, and pruned by the index alone: another history file or a server may
// refer to a backup, so history rows never decide what goes.
//
// Every entry names the hub's origin: a simulated or testbed hub's backups lie
// beside a real hub's in the same folder, and a store keeps, finds and prunes
// only those of its own origin. The folder and its files follow the rules of
// this user's kept files (app/SafeFile.h): a folder of this user's own, never a
// link, every file 0600, written whole (app/AtomicFile.h) and read without
// following a link.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/SafeFile.h"
#include "workflows/FlashBackups.h"
#include "workflows/RunOrigin.h"

namespace velmora::backups {

// How many runs' backups pruning keeps, unless told otherwise.
inline constexpr std::size_t kDefaultBackupRunsKept = 1000;

// One run's index entry.
struct BackupEntry {
    std::string runId;  // the run's name, as its history row has it
    // The order the store kept the backups in: a later backup has a larger
    // number, whatever the clock said. 0 for an entry of an older program,
    // which sorts before every numbered one.
    std::uint64_t sequence = 0;
    std::string time;     // UTC, IsoTime's form, when the backup was taken (for people)
    std::string origin;   // storedOrigin of the hub's origin: empty for a real hub
    std::string port;     // the hub's port path
    std::string hubIds;   // "VID:SSPID:HSPID" from the flash's block, when it parses
    std::string version;  // four hex digits from the block, when it has one
    std::string serial;   // the block's serial text, when it parses
    std::string sha256;   // names the contents file
    // How the run ended: "unfinished" until it tells, then "success" or "failure".
    std::string result;

    // The unit the backup came from: its serial, or its port when it shows none.
    std::string unit() const;
};

class BackupStore final : public FlashBackups {
public:
    // folder: where backups live, as the composition root chose it; created
    // (for this user alone) only when creation says so. origin: the hubs whose
    // backups this store keeps and prunes. runsKept: pruning keeps the backups
    // of this many of the latest runs of that origin.
    BackupStore(std::string folder, FolderCreation creation, RunOrigin origin,
                std::size_t runsKept = kDefaultBackupRunsKept);

    const std::string& folder() const { return folder_; }
    RunOrigin origin() const { return origin_; }

    // Stores contents (once per distinct content) and entry's index entry, with
    // its sha256, sequence and origin set here. False, with error, when either
    // cannot be written.
    bool store(const std::vector<std::uint8_t>& contents, BackupEntry& entry, std::string& error);
    std::optional<KeptBackup> keep(const std::vector<std::uint8_t>& contents, const FlashBackupInfo& info,
                                   std::string& problem) override;
    // Notes how the run ended, then prunes. False, with error, when the entry
    // cannot be rewritten (pruning problems are not errors of the run).
    bool finish(const RunId& run, bool succeeded, std::string& error) override;
    std::string place() const override { return folder_; }
    // Every index entry, of every origin, in the order they were kept; none
    // when the folder was never made. Nothing, with error, when it cannot be read.
    std::optional<std::vector<BackupEntry>> list(std::string& error) const;
    // The entries of this store's origin alone.
    std::optional<std::vector<BackupEntry>> own(std::string& error) const;
    // The contents named sha256 (a whole name), refused when they no longer match it.
    std::optional<std::vector<std::uint8_t>> load(const std::string& sha256, std::string& error) const;
    // Removes what the rules no longer keep of this origin's backups; the number
    // of index entries removed.
    std::size_t prune(std::string& error);

private:
    std::optional<std::string> ready(std::string& error) const;

    std::string folder_;
    FolderCreation creation_;
    RunOrigin origin_;
    std::size_t runsKept_;
};

// The entries pruning removes from entries (of one origin, in the order they
// were kept): all but the latest runsKept, except a run that ended failed or
// unfinished while its unit (BackupEntry::unit) has not passed since: that hub
// may still need its backup.
std::vector<std::size_t> entriesToPrune(const std::vector<BackupEntry>& entries, std::size_t runsKept);

}  // namespace velmora::backups
