#pragma once
// Opening files that come from anywhere and replacing files at paths that anyone
// may have prepared. The program often runs as root, in folders other users can
// write (/tmp, /run/lock, a shared bench folder), so:
//  - a file is read only when it is a regular file, and it is opened without
//    blocking, so a FIFO or a device planted at the path cannot hang the run;
//  - an output path is replaced only when nothing or a regular file stands there:
//    a symbolic link, a FIFO or a device is refused, never followed or destroyed;
//  - a replacement never carries the setuid, setgid or sticky bits and takes no
//    permissions from a file another user owns.
#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace velmora {

// "a FIFO", "a character device", "a directory", ...: what a path is, for messages.
std::string fileKindName(mode_t mode);

// A descriptor (close-on-exec, blocking again once open) of the regular file at
// path, or -1 with error saying why: the system's reason, or what else the path
// is. status receives the file's status when given.
int openRegularFile(const std::string& path, std::string& error, struct stat* status = nullptr);

// The whole contents of the regular file at path, opened as openRegularFile does;
// nothing, with error, when it cannot be read.
std::optional<std::string> readRegularFile(const std::string& path, std::string& error);

// False, with error saying why, when the file at path must not be replaced: a
// symbolic link (named with its target) or anything else that is not a regular
// file. A path where nothing exists yet passes.
bool checkReplaceableTarget(const std::string& path, std::string& error);

// False, with error, when no file can be created in folder: missing, not a
// folder, or not writable by this process.
bool checkWritableFolder(const std::string& folder, std::string& error);

// The permissions a new file gets: 0666 narrowed by the process's umask.
mode_t newFilePermissions();

// The permissions for a file that replaces existing: its own permission bits when
// this process's user owns it (without setuid, setgid and sticky), else those of a
// new file.
mode_t replacementPermissions(const struct stat& existing);

}  // namespace velmora
