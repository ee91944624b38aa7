// The serial numbers' marks on a line's server: one statement for a station's
// own thread and for the marks kept in a station's file, sent by whoever
// reaches the server first.
#include <libpq-fe.h>

#include "app/Utf8.h"
#include "history/server/PostgresHistory.h"
#include "history/server/PostgresResult.h"
#include "history/server/PostgresSerialCounter.h"

namespace velmora::history {

bool writeMarkOnServer(pg_conn* connection, const SerialMark& mark) {
    // A mark only moves a number on, whatever order marks arrive in (a start
    // that voided before a late mark came, two senders at once): issued only
    // from reserved, void only from reserved or issued, and used from anything
    // but used, since a passed unit carries its number even when it was voided
    // meanwhile. So a void never overwrites used.
    static constexpr const char* kMark =
        "UPDATE velmora_serial_numbers SET state = $1, changed = now(), run_uuid = $2"
        " WHERE origin = $3 AND prefix = $4 AND number = $5::bigint AND (state = 'reserved'"
        " OR (state = 'issued' AND $1 IN ('void', 'used')) OR (state = 'void' AND $1 = 'used'));";
    const std::string texts[] = {withValidUtf8(mark.state), withValidUtf8(mark.run),
                                 withValidUtf8(mark.origin), withValidUtf8(mark.prefix),
                                 std::to_string(mark.number)};
    const char* values[] = {texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str(),
                            texts[4].c_str()};
    return PostgresResult(execParamsBounded(connection, kMark, 5, values)).is(PGRES_COMMAND_OK);
}

bool PostgresHistory::sendMarks(const std::vector<SerialMark>& marks, std::string& error) {
    bool refused = false;  // the server answered, and said no
    const bool sent = use(
        [&](pg_conn* connection, std::string& failed) {
            PostgresTransaction transaction(connection);
            bool done = transaction.begin();
            for (const SerialMark& mark : marks) {
                if (done) done = writeMarkOnServer(connection, mark);
            }
            if (done) done = transaction.commit();
            if (done) return true;
            failed = failure();
            refused = PQstatus(connection) == CONNECTION_OK && !answerWasLate();
            return false;
        },
        error);
    answered_ = sent || refused;
    return sent;
}

}  // namespace velmora::history
