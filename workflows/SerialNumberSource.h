#pragma once
// Where a production line's serial numbers come from: a counter per prefix kept by
// the history backend, shared by every station that records into it. A number is
// given once and only once: the backend's UNIQUE (prefix, number) constraint, not
// a check in code, stops two stations taking the same one. A station reserves a
// block at a time, so a short outage of a shared backend does not stop it, and
// every number ends either used (a unit that passed carries it) or void (a unit
// that failed, or a block's unused rest).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "app/RunId.h"

namespace velmora {

struct SerialBlock {
    std::uint64_t first = 0;
    std::uint64_t count = 0;  // 0: the counter has passed the last number allowed
};

enum class SerialState { Issued, Used, Void };
// "reserved", "issued", "used", "void": the words the history keeps.
const char* serialStateName(SerialState state);

class SerialNumberSource {
public:
    virtual ~SerialNumberSource() = default;

    // Takes the station's name for as long as it runs (a second station of that
    // name is refused with error) and voids what a station of that name left
    // reserved or issued when it ended without closing (a crash, a kill).
    virtual bool beginStation(const std::string& station, std::string& error) = 0;
    // Reserves, in one transaction, the next numbers of the prefix's counter for
    // the station: at most count of them, from start when the counter lies below
    // it, never past last. None with error when the backend cannot be reached.
    virtual std::optional<SerialBlock> reserveBlock(const std::string& station, const std::string& prefix,
                                                    std::uint64_t start, std::uint64_t last,
                                                    std::uint64_t count, std::string& error) = 0;
    // Records what became of a number of the station's block, and which run
    // took it (none while it is only issued, or for a number no run took).
    virtual bool markNumber(const std::string& prefix, std::uint64_t number, SerialState state,
                            const RunId& run, std::string& error) = 0;
    // Voids every number the station still holds reserved or issued, and lets the
    // name go.
    virtual bool endStation(const std::string& station, std::string& error) = 0;

    // Keeps a number's mark where it outlives the process (the station's file)
    // until the backend has it, without waiting for the backend: true when kept,
    // and the mark then counts as written; sendKeptMarks takes it on. False
    // (with error when it tried) when this backend keeps none: markNumber is
    // then the way.
    virtual bool keepMark(const std::string& /*station*/, const std::string& /*prefix*/,
                          std::uint64_t /*number*/, SerialState /*state*/, const RunId& /*run*/,
                          std::string& /*error*/) {
        return false;
    }
    // Sends the station's kept marks to the backend, in order. False with error
    // when the backend could not be reached; waiting: how many are kept still
    // (those it refused included, set aside so they hold no other up).
    virtual bool sendKeptMarks(const std::string& /*station*/, std::size_t& waiting, std::string& /*error*/) {
        waiting = 0;
        return true;
    }
};

}  // namespace velmora
