#pragma once
// The rule every output file of a run is held to before anything is written: it
// must not be a file the run depends on (an input, the configuration, the image
// the scalar run writes, the history with its SQLite companions, anything in the
// backup store, the recording), and a run as root never writes into a file that
// another user owns. Files are told apart by what they are (device and inode of
// the file, or of its folder and its name when it does not exist yet), never by
// how their path is spelled, so a second name, a hard link or a path through
// another folder is found out too.
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// A file (or a whole folder) an output must never be, with what it is for the
// refusal's words: "the configuration", "the history's write-ahead log".
struct GuardedPath {
    std::string path;
    std::string role;
    bool folder = false;  // anything inside it is guarded too
};

// The reason the output at path must not be written, or nothing when it may:
// "PATH is ROLE", "PATH is inside ROLE", "PATH is a symbolic link", or, when
// this process runs as root, "PATH belongs to user N". "-" is standard output,
// refused only when the shell opened it on a guarded file.
std::optional<std::string> outputRefusal(const std::string& path, const std::vector<GuardedPath>& guarded);

// A new file at path for this user alone (0600), never through a symbolic link:
// made under a new name beside it (O_CREAT | O_EXCL) and renamed over path, so
// whatever stood there is replaced, never written into. The open descriptor
// (close-on-exec), or -1 with error.
int createPrivateOutput(const std::string& path, std::string& error);

}  // namespace velmora
