#pragma once
// A line's serial numbers' marks (a number issued to a unit, used by a passed
// one, void) kept in the station's own file until the line's server has them.
// A station writes each mark here first, so that neither a server that is away
// or frozen nor a station killed a moment after a unit's verdict loses it: the
// station's own thread, the sender, `history sync` and the station's next start
// send the marks waiting for their server, in the order they were kept, and
// remove each the server took. A mark the server refuses is set aside with its
// reason and the others still go; it stays in the file for the next process.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velmora::history {

class HistoryDatabase;
class LineServer;

// One mark as the station's file keeps it.
struct SerialMark {
    std::int64_t id = 0;     // the file's order; 0 until kept
    std::string lineServer;  // the server it is for (serverIdentity: no password)
    std::string origin;      // storedOrigin's word of the station's hubs
    std::string station;
    std::string prefix;
    std::uint64_t number = 0;
    std::string state;  // serialStateName's words
    std::string run;    // the run that took the number; empty: none
};

// The marks a server refused (it answered, and would not take them): set
// aside, by their id in the file, with the server's word on the first.
struct RefusedMarks {
    std::set<std::int64_t> ids;
    std::string reason;
};

// Keeps mark in the file (its id is given there). False with error.
bool keepMark(HistoryDatabase& file, const SerialMark& mark, std::string& error);
// Which of the file's waiting marks for a server are meant: every station's
// (station empty), or one station's of one origin.
struct MarksFor {
    std::string station;
    std::string origin;
};

// The marks waiting for server after the one whose id is after, in order, at
// most limit of them.
std::optional<std::vector<SerialMark>> waitingMarks(HistoryDatabase& file, const std::string& server,
                                                    const MarksFor& which, std::int64_t after,
                                                    std::size_t limit, std::string& error);
// Removes the marks the server took.
bool dropMarks(HistoryDatabase& file, const std::vector<SerialMark>& marks, std::string& error);

// Sends the marks waiting in file for server, in order, in batches, and removes
// each it took. A batch the server refuses goes again a mark at a time; the
// marks it refuses are added to refused and not sent again by this call or
// later ones with the same refused; batches: at most so many batches, 0 for as
// many as it takes. The number sent, or nothing with error when the server could
// not be reached (or the file read).
std::optional<std::size_t> sendWaitingMarks(HistoryDatabase& file, LineServer& server, const MarksFor& which,
                                            RefusedMarks& refused, std::string& error,
                                            std::size_t batches = 0);
// How many marks still wait in file for server (of which, which).
std::optional<std::size_t> countWaitingMarks(HistoryDatabase& file, const std::string& server,
                                             const MarksFor& which, std::string& error);

}  // namespace velmora::history
