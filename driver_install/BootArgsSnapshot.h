#pragma once
// The boot-args snapshot: the boot settings as they stood at the program's first
// launch after the machine started, before any driver load since then. On Linux
// it holds the kernel command line and, once the module signing key has been
// enrolled at a restart, the line "brennic-signing-key=enrolled".
#include <filesystem>
#include <string>

#include "driver_install/CommandRunners.h"

namespace velmora::driver {

inline constexpr const char* kSnapshotFileName = "nvram_setting.dat";
// Public half of the key that the load script signs the module with; the private
// half stays beside it, readable by root alone.
inline constexpr const char* kSigningCertificatePath = "/var/lib/velmora/signing/brennic-signing.der";

// The shell command that appends the snapshot to the file at snapshotPath.
std::string bootArgsSnapshotCommand(const std::filesystem::path& snapshotPath);

// Takes the snapshot when the file does not exist yet; an existing one is left
// alone. The file is created here, by this user and never through a link, and
// only then filled by the shell; the command's result is ignored.
void takeBootArgsSnapshot(const std::filesystem::path& snapshotPath, ShellRunner& shell);

// The snapshot's text; empty when the file is missing or unreadable.
std::string readBootArgsSnapshot(const std::filesystem::path& snapshotPath);

}  // namespace velmora::driver
