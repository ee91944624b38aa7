#pragma once
// Where a run keeps the flash before it erases (the backups folder, in the
// history layer). The workflows read the flash and say what it holds; the keeper
// stores it and remembers how the run ended, which decides what pruning removes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/RunId.h"

namespace velmora {

// What the run knows of the flash it keeps.
struct FlashBackupInfo {
    RunId run;            // the run that keeps it, by its one name
    std::string port;     // the hub's port path
    std::string hubIds;   // "VID:SSPID:HSPID" from the flash's block, when it parses
    std::string version;  // four hex digits from the block, when it has one
    std::string serial;   // the block's serial text, when it parses
};

struct KeptBackup {
    RunId run;           // names the run's index entry
    std::string sha256;  // names the contents
};

class FlashBackups {
public:
    virtual ~FlashBackups() = default;
    // Stores the contents; nothing, with problem saying why, when they cannot be kept.
    virtual std::optional<KeptBackup> keep(const std::vector<std::uint8_t>& contents,
                                           const FlashBackupInfo& info, std::string& problem) = 0;
    // How the run that kept its backup ended. False, with problem, when that cannot be noted.
    virtual bool finish(const RunId& run, bool succeeded, std::string& problem) = 0;
    // Where the backups are, for messages.
    virtual std::string place() const = 0;
};

}  // namespace velmora
