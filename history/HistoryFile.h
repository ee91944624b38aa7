#pragma once
// Where the traceability history lives and how its file is made safe to use. The
// program often runs as root: a database that another local user could plant,
// swap or read would let them forge the record, feed root a crafted file, or
// read which unit got which image. So the history's folder must be writable by
// its owner alone (SQLite makes its -wal and -shm files beside the database),
// every folder above it must be safe from renames by other users, and the file
// itself is this user's own regular file, made readable by this user alone.
#include <string>

namespace velmora::history {

inline constexpr const char* kHistoryFileName = "history.sqlite";

// $XDG_STATE_HOME/velmora/history.sqlite, or ~/.local/state/velmora/history.sqlite
// when that is unset or not absolute. The home folder is this user's from the
// password database: root run through sudo with another user's $HOME still
// keeps its history under its own home. Empty when no home can be told.
std::string defaultHistoryPath();

enum class FolderCreation { Create, MustExist };

// Makes sure path can be used as the history database: its folder (created with
// owner-only permissions when asked for) and the folders above it pass the rules
// above, and the file is this user's own regular file, created empty with
// owner-only permissions when missing. False, with error saying why, when not.
bool prepareHistoryFile(const std::string& path, FolderCreation folders, std::string& error);

// The same checks without creating anything, for reading the history: false, with
// error, when the file must not be opened; missing is set when it simply is not
// there yet.
bool checkHistoryFile(const std::string& path, bool& missing, std::string& error);

// $XDG_STATE_HOME/velmora/<name> (or under ~/.local/state), as defaultHistoryPath
// finds its place; empty when no home can be told.
std::string defaultStatePath(const std::string& name);

// Makes sure folder can hold this user's private state files (the flash backups):
// created for its owner alone when asked for, and it and the folders above it pass
// the history file's rules. False, with error, when not.
bool prepareStateFolder(const std::string& folder, FolderCreation folders, std::string& error);

}  // namespace velmora::history
