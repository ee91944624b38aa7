#pragma once
// The serial numbers of a production line kept in the station's file: the
// counter per origin and prefix and each number given (history/SerialTables.h),
// shared by every station that records into the same file, and kept apart for
// a bench's hubs. A station's name is held by an advisory lock on a file beside
// the database while it runs, so a second station of that name (in this process
// or another) is refused.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/FileLock.h"
#include "history/StationFile.h"
#include "workflows/RunOrigin.h"
#include "workflows/SerialNumberSource.h"

namespace velmora::history {

// One number as the history keeps it.
struct SerialNumberRow {
    std::string prefix;
    std::uint64_t number = 0;
    std::string station;
    std::string state;  // serialStateName's words, or "reserved"
    std::string run{};  // the run that took it; empty while none has
};

inline constexpr const char* kReservedState = "reserved";
// The longest station name: it becomes part of a lock file's name.
inline constexpr std::size_t kStationNameMost = 64;

class SerialCounter final : public SerialNumberSource {
public:
    // The numbers of origin's hubs in file, the process's one owner of it.
    SerialCounter(std::shared_ptr<StationFile> file, RunOrigin origin);
    // Opens the file at path for itself (tests and measurements): the numbers
    // of origin's hubs. Null, with error, when it cannot be used.
    static std::unique_ptr<SerialCounter> open(const std::string& path, FolderCreation creation,
                                               std::string& error, RunOrigin origin = RunOrigin::Real);
    ~SerialCounter() override = default;

    bool beginStation(const std::string& station, std::string& error) override;
    std::optional<SerialBlock> reserveBlock(const std::string& station, const std::string& prefix,
                                            std::uint64_t start, std::uint64_t last, std::uint64_t count,
                                            std::string& error) override;
    bool markNumber(const std::string& prefix, std::uint64_t number, SerialState state, const RunId& run,
                    std::string& error) override;
    bool endStation(const std::string& station, std::string& error) override;

    // Every number of the prefix of this counter's origin, in order (all
    // prefixes when empty).
    std::optional<std::vector<SerialNumberRow>> numbers(const std::string& prefix, std::string& error);
    // The number of this counter's origin whose serial is serial, when one was
    // given; none (error empty) when none was, none with error when it cannot
    // be read.
    std::optional<SerialNumberRow> given(const std::string& serial, std::string& error);

private:
    bool voidOpenNumbers(const std::string& station, std::string& error);

    std::shared_ptr<StationFile> file_;
    const std::string origin_;  // storedOrigin's word
    std::mutex mutex_;
    FileLock stationLock_;  // the held name's lock file, while a station runs
};

// Whether the serials of two prefixes can be the same text: one prefix is the
// other followed by digits only (CZ and CZ0: CZ000001 from both). A counter
// keeps no digit count, so every such pair is refused, not only those whose
// lengths meet.
bool prefixesMayClash(const std::string& prefix, const std::string& other);
// The first of others whose serials prefix's may repeat, with error saying so.
bool prefixClashes(const std::string& prefix, const std::vector<std::string>& others, std::string& error);

// The prefix among prefixes whose counter could make serial (the prefix, then
// digits only), and the number the digits give. At most one can, as prefixes
// that may clash are refused.
std::optional<std::pair<std::string, std::uint64_t>> serialNumberOf(const std::string& serial,
                                                                    const std::vector<std::string>& prefixes);

// Where the lock of a station's name lies: beside the database, the name in hex
// so that any name makes one plain file name.
std::string stationLockPath(const std::string& databasePath, const std::string& station);

}  // namespace velmora::history
