#pragma once
// The serial numbers of a production line kept in the SQLite history: the
// counter per prefix and each number given (history/SerialTables.h), shared by
// every station that records into the same file. A station's name is held by an
// advisory lock on a file beside the database while it runs, so a second station
// of that name (in this process or another) is refused.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryDatabase.h"
#include "workflows/SerialNumberSource.h"

namespace velmora::history {

// One number as the history keeps it.
struct SerialNumberRow {
    std::string prefix;
    std::uint64_t number = 0;
    std::string station;
    std::string state;  // serialStateName's words, or "reserved"
};

inline constexpr const char* kReservedState = "reserved";
// The longest station name: it becomes part of a lock file's name.
inline constexpr std::size_t kStationNameMost = 64;

class SerialCounter final : public SerialNumberSource {
public:
    // Opens the history at path (prepared as the recorder prepares it; folders
    // made only when createFolders). Null, with error, when it cannot be used.
    static std::unique_ptr<SerialCounter> open(const std::string& path, bool createFolders,
                                               std::string& error);
    ~SerialCounter() override;

    bool beginStation(const std::string& station, std::string& error) override;
    std::optional<SerialBlock> reserveBlock(const std::string& station, const std::string& prefix,
                                            std::uint64_t start, std::uint64_t last, std::uint64_t count,
                                            std::string& error) override;
    bool markNumber(const std::string& prefix, std::uint64_t number, SerialState state,
                    std::string& error) override;
    bool endStation(const std::string& station, std::string& error) override;

    // Every number of the prefix, in order (all prefixes when empty).
    std::optional<std::vector<SerialNumberRow>> numbers(const std::string& prefix, std::string& error);

private:
    SerialCounter(std::string path, std::unique_ptr<HistoryDatabase> database);
    bool voidOpenNumbers(const std::string& station, std::string& error);

    std::string path_;
    std::unique_ptr<HistoryDatabase> database_;
    std::mutex mutex_;
    int stationLock_ = -1;  // the held name's lock file, -1 while no station runs
};

// Where the lock of a station's name lies: beside the database, the name in hex
// so that any name makes one plain file name.
std::string stationLockPath(const std::string& databasePath, const std::string& station);

}  // namespace velmora::history
