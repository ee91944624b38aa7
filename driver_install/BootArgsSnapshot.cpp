#include "driver_install/BootArgsSnapshot.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/SafeFile.h"
#include "app/ShellEscape.h"
#include "driver_install/RestartPrompt.h"

namespace velmora::driver {
namespace {

constexpr mode_t kOwnerReadWrite = 0600;

bool createExclusively(const std::filesystem::path& path) {
    const int file =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerReadWrite);
    if (file < 0) return false;
    close(file);
    return true;
}

}  // namespace

std::string bootArgsSnapshotCommand(const std::filesystem::path& snapshotPath) {
    // mokutil answers "<file> is already enrolled" once the key is in the
    // firmware's machine-owner list, which happens only at a restart.
    std::string command = "{ printf 'boot-args\\t'; cat /proc/cmdline; ";
    command += "if mokutil --test-key " + ShellEscapePath(kSigningCertificatePath) +
               " 2>/dev/null | grep -q 'is already enrolled'; then echo " +
               std::string(kSigningKeyEnrolledSetting) + "; fi; } >> " +
               ShellEscapePath(snapshotPath.string()) + " 2>/dev/null";
    return command;
}

void takeBootArgsSnapshot(const std::filesystem::path& snapshotPath, ShellRunner& shell) {
    if (holdsControlCharacters(snapshotPath.string())) return;
    if (!createExclusively(snapshotPath)) return;  // already taken since the last start, or not ours
    shell.run(bootArgsSnapshotCommand(snapshotPath));
}

std::string readBootArgsSnapshot(const std::filesystem::path& snapshotPath) {
    // The snapshot lies in /tmp: a FIFO another user planted there reads as no
    // snapshot instead of blocking the driver's load.
    std::string error;
    return readRegularFile(snapshotPath.string(), error).value_or(std::string{});
}

}  // namespace velmora::driver
