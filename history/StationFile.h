#pragma once
// The station's own history file, and its one owner in a process. The program
// often runs as root: a database that another local user could plant, swap or
// read would let them forge the record, feed root a crafted file, or read which
// unit got which image. So the file lies in a folder of this user's kept files
// (app/SafeFile.h: a folder of its own that is no link, below folders no other
// user can rename; folders above may be links root or this user owns), and is
// this user's own regular file, readable by this user alone.
//
// Whatever in one process records into the file (the run recorder, the serial
// counter, the sender, the log checkpoints, the listing) goes through one
// StationFile. The file is checked before SQLite opens it and never opened or
// closed again beside SQLite's own connections: closing any descriptor of a file
// drops every POSIX lock the process holds on it, SQLite's included, and another
// process would then checkpoint and delete the write-ahead log under this one.
#include <memory>
#include <mutex>
#include <string>

#include "app/SafeFile.h"
#include "history/HistoryDatabase.h"

namespace velmora::history {

inline constexpr const char* kHistoryFileName = "history.sqlite";

class StationFile {
public:
    // The file at path, made (empty, for this user alone) when it is missing,
    // and its folders too with Create; laid out or brought up to date. Null, with
    // error naming the path and the rule it broke; a file made here is removed
    // again when it cannot be used.
    static std::shared_ptr<StationFile> open(const std::string& path, FolderCreation creation,
                                             std::string& error);
    // The file at path only when it exists: null with missing set (and no error)
    // when it does not, or its folder does not; nothing is made.
    static std::shared_ptr<StationFile> openExisting(const std::string& path, bool& missing,
                                                     std::string& error);

    // As named, for messages.
    const std::string& path() const { return path_; }
    // The process's connection, shared by everyone who records into the file.
    HistoryDatabase& database() { return *database_; }
    // A connection of its own for a thread that must not wait for the others'
    // statements (the log checkpoints, the sender), on the very file checked.
    std::unique_ptr<HistoryDatabase> openConnection(std::string& error) const;

private:
    StationFile(std::string path, std::string realPath, std::unique_ptr<HistoryDatabase> database)
        : path_(std::move(path)), realPath_(std::move(realPath)), database_(std::move(database)) {}
    static std::shared_ptr<StationFile> openChecked(const std::string& path, FolderCreation creation,
                                                    bool mayCreate, bool& missing, std::string& error);

    std::string path_;
    std::string realPath_;  // without any link: what every connection opens
    std::unique_ptr<HistoryDatabase> database_;
};

// The station's file as a process reaches it: opened once, on its first use
// (the first run recorded, the first serial number, a listing), and then shared
// by whoever asks, so the process has one owner of the file.
class StationFileAccess {
public:
    StationFileAccess(std::string path, FolderCreation creation)
        : path_(std::move(path)), creation_(creation) {}
    StationFileAccess(const StationFileAccess&) = delete;
    StationFileAccess& operator=(const StationFileAccess&) = delete;

    const std::string& path() const { return path_; }
    // The file, opened now when it is not yet; null with error when it cannot
    // be (no home to keep it in, a rule it breaks).
    std::shared_ptr<StationFile> open(std::string& error);
    // The same for a reader: null with missing set when nothing is recorded yet.
    std::shared_ptr<StationFile> openExisting(bool& missing, std::string& error);

private:
    std::mutex mutex_;
    const std::string path_;
    const FolderCreation creation_;
    std::shared_ptr<StationFile> file_;
};

}  // namespace velmora::history
