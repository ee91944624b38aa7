#pragma once
// Writing a whole file so that the target holds either its old contents or all of
// the new ones, never a torn image. The bytes go to an unnamed temporary file in
// the target's folder (O_TMPFILE), which is given its name only once complete, so
// a run killed while writing leaves nothing behind; where the file system has no
// unnamed files, a named temporary file beside the target is used instead.
//
// The program may run as root in a folder other users can write, so the target
// is replaced only when nothing or a regular file stands there (a symbolic link,
// FIFO or device is refused, never followed or destroyed), and the new file never
// gets the setuid, setgid or sticky bit or another user's permissions: it keeps
// the old file's permission bits when this user owned it, else the umask's.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

struct FileWriteResult {
    bool written = false;
    std::string error;  // the reason when not written
};

// permissions: the new file's permission bits (0600 for this user's private
// files, whatever stood there before), of which only the read, write and execute
// bits count; none: as above, the old file's or the umask's.
FileWriteResult writeFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                                    std::optional<unsigned> permissions = std::nullopt);

}  // namespace velmora
