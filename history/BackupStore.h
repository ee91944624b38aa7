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
// The folder follows the history file's rules (this user's own, 0700, nothing
// above it that another user could rename); every file is 0600, written
// atomically, opened without following links, and only regular files are read.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workflows/FlashBackups.h"

namespace velmora::history {

inline constexpr const char* kBackupsFolderName = "backups";
// How many runs' backups pruning keeps, unless told otherwise.
inline constexpr std::size_t kDefaultBackupRunsKept = 1000;

// $XDG_STATE_HOME/velmora/backups, or ~/.local/state/velmora/backups.
std::string defaultBackupsFolder();

// One run's index entry.
struct BackupEntry {
    std::string runId;    // the run's UUID
    std::string time;     // UTC, IsoTime's form, when the backup was taken
    std::string port;     // the hub's port path
    std::string hubIds;   // "VID:SSPID:HSPID" from the flash's block, when it parses
    std::string version;  // four hex digits from the block, when it has one
    std::string serial;   // the block's serial text, when it parses
    std::string sha256;   // names the contents file
    // How the run ended: "unfinished" until it tells, then "success" or "failure".
    std::string result;
};

class BackupStore final : public FlashBackups {
public:
    // folder: where backups live. createFolders: the default place may be made.
    // runsKept: pruning keeps the backups of this many of the latest runs.
    BackupStore(std::string folder, bool createFolders, std::size_t runsKept = kDefaultBackupRunsKept);

    const std::string& folder() const { return folder_; }

    // Stores contents (once per distinct content) and entry's index entry, with
    // entry.sha256 set here. False, with error, when either cannot be written.
    bool store(const std::vector<std::uint8_t>& contents, BackupEntry& entry, std::string& error);
    // A run's backup: a new run id and the time now, stored as above.
    std::optional<KeptBackup> keep(const std::vector<std::uint8_t>& contents, const FlashBackupInfo& info,
                                   std::string& problem) override;
    // Notes how the run with runId ended, then prunes. False, with error, when the
    // entry cannot be rewritten (pruning problems are not errors of the run).
    bool finish(const std::string& runId, bool succeeded, std::string& error) override;
    std::string place() const override { return folder_; }
    // Every index entry, oldest first; nothing, with error, when the folder cannot be read.
    std::optional<std::vector<BackupEntry>> list(std::string& error) const;
    // The contents named sha256 (a whole name), refused when they no longer match it.
    std::optional<std::vector<std::uint8_t>> load(const std::string& sha256, std::string& error) const;
    // Removes what the rules no longer keep; the number of index entries removed.
    std::size_t prune(std::string& error);

private:
    bool ready(std::string& error) const;

    std::string folder_;
    bool createFolders_;
    std::size_t runsKept_;
};

// The entries pruning removes from entries (oldest first): all but the latest
// runsKept, except a run that ended failed or unfinished while no later run on
// its port has passed (that hub may still need its backup).
std::vector<std::size_t> entriesToPrune(const std::vector<BackupEntry>& entries, std::size_t runsKept);

// A new random UUID (version 4), lowercase.
std::string newRunId();

}  // namespace velmora::history
