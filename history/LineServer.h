#pragma once
// What the station's sender needs of a line's server: the rows taken in one
// transaction, and a name for messages. The server's own code (history/server,
// the only code that speaks its protocol) implements it; the history sends
// through it without knowing how.
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"

namespace velmora::history {

class LineServer {
public:
    virtual ~LineServer() = default;
    // Writes the rows in one transaction (by run UUID: a row written again
    // changes nothing, an older write never replaces a newer one); the server's
    // time of receipt (UTC, IsoTime's form) on success. error never holds a password.
    virtual std::optional<std::string> send(const std::vector<HistoryRecord>& rows, std::string& error) = 0;
    // The server as every message names it, without any password.
    virtual std::string name() const = 0;
    // The server as the rows written for it name it (HistoryRecord::lineServer),
    // without any password.
    virtual std::string identity() const = 0;
    // Whether the server answered this thread's last send: false when it could
    // not be reached (away, or too late), true when it refused the rows.
    virtual bool answered() const = 0;
    // Whether, at this thread's last send, the server itself would not let this
    // process in (a wrong password): it answered, and took no rows. No row is
    // to blame, so none is set aside.
    virtual bool refusedConnection() const { return false; }
};

}  // namespace velmora::history
