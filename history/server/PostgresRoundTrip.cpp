#include "history/server/PostgresRoundTrip.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace velmora::history {
namespace {

using Clock = std::chrono::steady_clock;

// Whether the thread's last statement ran out of time: read right after, on the
// same thread, by whoever words its failure.
thread_local bool lastWasLate = false;
thread_local std::chrono::milliseconds lastBound = kServerAnswerBound;  // the bound it was given

// Waits for the socket until deadline: false when it passed.
bool awaitSocket(pg_conn* connection, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd watched{PQsocket(connection), events, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return true;  // libpq's next read says what broke
    }
}

// Sends what libpq holds, then reads every result; the last is the statement's.
PGresult* awaitResult(pg_conn* connection, std::chrono::milliseconds bound) {
    const Clock::time_point deadline = Clock::now() + bound;
    int flushed = 0;
    while ((flushed = PQflush(connection)) == 1) {
        if (!awaitSocket(connection, POLLIN | POLLOUT, deadline)) break;
        if (!PQconsumeInput(connection)) return nullptr;
    }
    if (flushed < 0) return nullptr;
    PGresult* last = nullptr;
    for (;;) {
        while (flushed == 0 && PQisBusy(connection)) {
            if (!awaitSocket(connection, POLLIN, deadline)) {
                flushed = 1;
                break;
            }
            if (!PQconsumeInput(connection)) break;
        }
        if (flushed != 0) {
            // Too late: the session is cut, and the next use connects again.
            PQclear(last);
            lastWasLate = true;
            ::shutdown(PQsocket(connection), SHUT_RDWR);
            PQconsumeInput(connection);
            return nullptr;
        }
        PGresult* result = PQgetResult(connection);
        if (result == nullptr) return last;
        PQclear(last);
        last = result;
        if (PQstatus(connection) == CONNECTION_BAD) return last;
    }
}

PGresult* sent(pg_conn* connection, int accepted, std::chrono::milliseconds bound) {
    lastWasLate = false;
    lastBound = bound;
    if (accepted == 0) return nullptr;
    return awaitResult(connection, bound);
}

}  // namespace

PGresult* execBounded(pg_conn* connection, const char* sql, std::chrono::milliseconds bound) {
    return sent(connection, PQsendQuery(connection, sql), bound);
}

PGresult* execParamsBounded(pg_conn* connection, const char* sql, int count, const char* const* values,
                            std::chrono::milliseconds bound) {
    return sent(connection, PQsendQueryParams(connection, sql, count, nullptr, values, nullptr, nullptr, 0),
                bound);
}

PGresult* prepareBounded(pg_conn* connection, const char* name, const char* sql) {
    return sent(connection, PQsendPrepare(connection, name, sql, 0, nullptr), kServerAnswerBound);
}

PGresult* execPreparedBounded(pg_conn* connection, const char* name, int count, const char* const* values) {
    return sent(connection, PQsendQueryPrepared(connection, name, count, values, nullptr, nullptr, 0),
                kServerAnswerBound);
}

bool answerWasLate() {
    return lastWasLate;
}

void forgetLateAnswer() {
    lastWasLate = false;
}

std::string lateAnswerReason() {
    return "the server did not answer within " + std::to_string(lastBound.count() / 1000) + " s";
}

}  // namespace velmora::history
