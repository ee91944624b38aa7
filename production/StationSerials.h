#pragma once
// A station's serial numbers: the block it holds from the history's counter, the
// number each unit takes, and what became of it. Numbers are taken in order from
// the block. The backend (a server, perhaps slow or away) is met off the units'
// path: a thread of the station's own writes each number's marks, in order, and
// reserves the next block once the one held is down to a quarter, so a unit
// waits for the backend only when the whole block is gone. A backend that keeps
// marks where they outlive the process (a server's, in the station's file)
// keeps each at once, and the thread sends them on. While the backend is away
// the station goes on with what its block still holds; marks wait and are
// tried again. Safe to call from the station's loop and its unit workers at once.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "workflows/SerialNumberSource.h"
#include "workflows/UnitSerial.h"

namespace velmora {

// How long a unit's end waits for its number's mark (a backend slow or away
// costs a unit no more).
inline constexpr std::chrono::milliseconds kMarkWait{1000};

// How many numbers a station reserves at a time, unless told otherwise.
inline constexpr std::uint64_t kDefaultSerialBlock = 20;

struct SerialSettings {
    SerialFormat format;
    std::uint64_t start = 1;  // the first number when the prefix's counter is new (or lower)
    std::uint64_t block = kDefaultSerialBlock;
    std::string station;  // the station's name, unique among the stations running
};

// One unit's number, or the line that stops the station taking units.
struct SerialTake {
    std::optional<std::uint64_t> number;
    std::string serial;
    std::string stopLine;
};

class StationSerials {
public:
    StationSerials(SerialNumberSource& source, SerialSettings settings);
    ~StationSerials();
    StationSerials(const StationSerials&) = delete;
    StationSerials& operator=(const StationSerials&) = delete;

    // Takes the station's name and its first block. False with error (another
    // station runs under the name, the backend cannot be reached, the counter is
    // used up): no unit may start.
    bool begin(std::string& error);
    // The next number for a unit, marked issued.
    SerialTake take();
    // A unit's run ended: its number is used when it passed, else void; either
    // way it names the run (none when the unit never reached its run). A mark
    // the backend keeps counts as written at once. Otherwise waits for the
    // mark to be written kMarkWait at most: with the backend answering,
    // a unit's verdict is shown only once its number's fate is kept, so a kill
    // right after it voids no passed unit's number. Once a wait has run out, no
    // unit waits until the backend takes a mark again.
    void finish(std::uint64_t number, bool passed, const RunId& run);
    // The station ends: waiting marks are written, the block's unused rest and
    // any number still issued are voided, the name is let go. False with error
    // when the backend could not be reached: the station then stays open and a
    // later call tries again (the destructor does, once). Marks the backend
    // keeps (the station's file) are sent by whoever reaches the server next,
    // at the latest by the next start of the name before it voids anything;
    // marks it could not keep are lost, and their numbers voided then.
    bool end(std::string& error);

    // The numbers still free in the block held now.
    std::uint64_t left();

    const SerialSettings& settings() const { return settings_; }

private:
    struct Mark {
        std::uint64_t number;
        SerialState state;
        RunId run;
    };
    bool reserveLocked(std::unique_lock<std::mutex>& lock, std::string& error, bool& exhausted);
    bool keepOrQueue(std::unique_lock<std::mutex>& lock, std::uint64_t number, SerialState state,
                     const RunId& run);
    void markLocked(std::uint64_t number, SerialState state, const RunId& run);
    bool wantsBlockLocked() const;
    void flushLocked(std::string& error);
    void work();
    void stopWorker();

    SerialNumberSource& source_;
    SerialSettings settings_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::uint64_t> block_;
    std::deque<Mark> waiting_;
    std::uint64_t marksQueued_ = 0;   // every mark ever queued
    std::uint64_t marksWritten_ = 0;  // of them, written
    std::uint64_t marksKept_ = 0;     // every mark the backend kept to send later
    std::uint64_t keptSent_ = 0;      // of them, how many a send has seen
    bool backendSlow_ = false;        // the last mark failed, or a unit's wait for it ran out
    bool begun_ = false;
    bool reserving_ = false;     // a block is being reserved (mutex_ not held meanwhile)
    bool counterEnded_ = false;  // the counter gave its last numbers: no block ahead
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace velmora
