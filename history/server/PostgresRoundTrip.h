#pragma once
// Every statement a station sends its line's server, each with a bound on how
// long its answer may take. The server's own timeouts (per session, below) end a
// statement that waits for a lock or runs long, and a session left inside a
// transaction; a server that does not answer at all (frozen, its host gone
// quiet with the connection still up) is met here: its connection is cut when
// the bound has passed, so the next use connects anew, and no station waits for
// the server longer than the bound.
#include <libpq-fe.h>

#include <chrono>
#include <string>

namespace velmora::history {

// How long an answer may take; a layout step may take longer (kLayoutAnswerBound).
inline constexpr std::chrono::milliseconds kServerAnswerBound{5000};
inline constexpr std::chrono::milliseconds kLayoutAnswerBound{120000};
// A report counts a whole line's history on the server: a minute, its statements
// the server's own limit a little sooner; the report's read-only transaction may
// wait between them while the station reads a long answer (a line per unit).
inline constexpr std::chrono::milliseconds kReportAnswerBound{60000};
inline constexpr const char* kReportTimeouts =
    "SET LOCAL statement_timeout = '55s'; SET LOCAL idle_in_transaction_session_timeout = '55s';";

// What each session asks of the server, below the client's bound so that the
// server's own error comes first: a statement ends after 4 s, and a session
// idle inside a transaction (its station frozen in the middle of reserving a
// block, holding the counter's row) is ended after 2 s, freeing the row; a lock
// is waited for 3 s at most, so a station waiting behind a frozen one gets the
// row once the frozen one's session is ended, rather than giving up first.
// A station's own transactions send their statements back to back.
inline constexpr const char* kSessionTimeouts =
    " -c statement_timeout=4000 -c lock_timeout=3000 -c idle_in_transaction_session_timeout=2000";

// As PQexec, PQexecParams, PQprepare and PQexecPrepared, on a connection in
// libpq's nonblocking mode, the answer awaited no longer than bound. Null when
// the statement could not be sent, the connection broke, or the bound passed
// (answerWasLate() then says so, and the connection is cut).
PGresult* execBounded(pg_conn* connection, const char* sql,
                      std::chrono::milliseconds bound = kServerAnswerBound);
PGresult* execParamsBounded(pg_conn* connection, const char* sql, int count, const char* const* values,
                            std::chrono::milliseconds bound = kServerAnswerBound);
PGresult* prepareBounded(pg_conn* connection, const char* name, const char* sql);
PGresult* execPreparedBounded(pg_conn* connection, const char* name, int count, const char* const* values);

// True when this thread's last statement was cut for its late answer: the reason
// told instead of libpq's "server closed the connection".
bool answerWasLate();
// A new connection: nothing of the last is late.
void forgetLateAnswer();
std::string lateAnswerReason();

}  // namespace velmora::history
