#include "history/SerialMarks.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>

#include "app/IsoTime.h"
#include "history/HistoryDatabase.h"
#include "history/LineServer.h"
#include "history/SendSettingAside.h"
#include "history/SqliteStatement.h"

namespace velmora::history {
namespace {

// Marks per transaction on the server: a backlog goes in a few, and a mark kept
// meanwhile waits for a short one only.
constexpr std::size_t kBatchMarks = 500;
// Marks removed per transaction in the file, so a run's write waits for a short one.
constexpr std::size_t kDropsPerTransaction = 64;

// The marks for one server, and of one station when it is named.
constexpr const char* kWaitingFor =
    " FROM serial_marks WHERE line_server = ?1 AND (?2 = '' OR (station = ?2 AND origin = ?3)) AND id > ?4";

void bindWaitingFor(SqliteStatement& statement, const std::string& server, const MarksFor& which,
                    std::int64_t after) {
    statement.bind(1, server).bind(2, which.station).bind(3, which.origin).bind(4, after);
}

// Sends one batch and removes from the file what the server took.
std::optional<std::size_t> sendBatch(HistoryDatabase& file, LineServer& server,
                                     const std::vector<SerialMark>& marks, RefusedMarks& refused,
                                     std::string& error) {
    return sendSettingAside(
        server, marks,
        [&server](const std::vector<SerialMark>& batch, std::string& why) {
            return server.sendMarks(batch, why);
        },
        [&file](const std::vector<SerialMark>& batch, std::string& why) {
            return dropMarks(file, batch, why);
        },
        [&refused](const SerialMark& mark, const std::string& why) {
            refused.ids.insert(mark.id);
            if (refused.reason.empty()) refused.reason = why;
        },
        error);
}

}  // namespace

bool keepMark(HistoryDatabase& file, const SerialMark& mark, std::string& error) {
    return file.exclusive([&](sqlite3* handle) {
        SqliteStatement insert(
            handle,
            "INSERT INTO serial_marks (line_server, origin, station, prefix, number, state,"
            " run_uuid, kept) VALUES (?, ?, ?, ?, ?, ?, ?, ?);");
        return insert.bind(1, mark.lineServer)
            .bind(2, mark.origin)
            .bind(3, mark.station)
            .bind(4, mark.prefix)
            .bind(5, static_cast<std::int64_t>(mark.number))
            .bind(6, mark.state)
            .bind(7, mark.run)
            .bind(8, isoUtc(wallNow()))
            .run(error);
    });
}

std::optional<std::vector<SerialMark>> waitingMarks(HistoryDatabase& file, const std::string& server,
                                                    const MarksFor& which, std::int64_t after,
                                                    std::size_t limit, std::string& error) {
    return file.exclusive([&](sqlite3* handle) -> std::optional<std::vector<SerialMark>> {
        SqliteStatement select(handle, std::string("SELECT id, line_server, origin, station, prefix, number,"
                                                   " state, run_uuid") +
                                           kWaitingFor + " ORDER BY id LIMIT ?5;");
        bindWaitingFor(select, server, which, after);
        select.bind(5, static_cast<std::int64_t>(std::min<std::size_t>(
                           limit, static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()))));
        std::vector<SerialMark> marks;
        int status = SQLITE_ROW;
        while ((status = select.step(error)) == SQLITE_ROW) {
            marks.push_back({select.integer(0), select.text(1), select.text(2), select.text(3),
                             select.text(4), static_cast<std::uint64_t>(select.integer(5)), select.text(6),
                             select.text(7)});
        }
        if (status != SQLITE_DONE) return std::nullopt;
        return marks;
    });
}

// Drops the very marks sent, not others that took their row numbers since: two
// senders (the station's own thread and the history sender) may send one mark,
// and once the first dropped it, a new mark may get its id (SQLite gives the
// highest id again once its row is gone). A new mark equal in every word to the
// one sent says nothing the server has not taken.
bool dropMarks(HistoryDatabase& file, const std::vector<SerialMark>& marks, std::string& error) {
    return file.exclusive([&](sqlite3* handle) {
        SqliteStatement drop(handle,
                             "DELETE FROM serial_marks WHERE id = ? AND line_server = ? AND origin = ? AND"
                             " station = ? AND prefix = ? AND number = ? AND state = ? AND run_uuid = ?;");
        for (std::size_t first = 0; first < marks.size(); first += kDropsPerTransaction) {
            SqliteTransaction transaction(handle);
            if (!transaction.begin(error)) return false;
            const std::size_t end = std::min(marks.size(), first + kDropsPerTransaction);
            for (std::size_t index = first; index < end; ++index) {
                drop.reset();
                const SerialMark& mark = marks[index];
                drop.bind(1, mark.id)
                    .bind(2, mark.lineServer)
                    .bind(3, mark.origin)
                    .bind(4, mark.station)
                    .bind(5, mark.prefix)
                    .bind(6, static_cast<std::int64_t>(mark.number))
                    .bind(7, mark.state)
                    .bind(8, mark.run);
                if (!drop.run(error)) return false;
            }
            drop.reset();  // a statement left running would hold the transaction open
            if (!transaction.commit(error)) return false;
        }
        return true;
    });
}

std::optional<std::size_t> sendWaitingMarks(HistoryDatabase& file, LineServer& server, const MarksFor& which,
                                            RefusedMarks& refused, std::string& error, std::size_t batches) {
    const std::string identity = server.identity();
    std::size_t sent = 0;
    // Read on from the last mark seen: the ones set aside stay behind and hold
    // nothing up.
    for (std::int64_t after = 0, batch = 1;; ++batch) {
        const std::optional<std::vector<SerialMark>> marks =
            waitingMarks(file, identity, which, after, kBatchMarks, error);
        if (!marks) return std::nullopt;
        if (marks->empty()) break;
        after = marks->back().id;
        std::vector<SerialMark> fresh;
        for (const SerialMark& mark : *marks)
            if (refused.ids.count(mark.id) == 0) fresh.push_back(mark);
        if (!fresh.empty()) {
            const std::optional<std::size_t> taken = sendBatch(file, server, fresh, refused, error);
            if (!taken) return std::nullopt;
            sent += *taken;
        }
        if (marks->size() < kBatchMarks || static_cast<std::size_t>(batch) == batches) break;
    }
    return sent;
}

std::optional<std::size_t> countWaitingMarks(HistoryDatabase& file, const std::string& server,
                                             const MarksFor& which, std::string& error) {
    return file.exclusive([&](sqlite3* handle) -> std::optional<std::size_t> {
        SqliteStatement count(handle, std::string("SELECT COUNT(*)") + kWaitingFor + ";");
        bindWaitingFor(count, server, which, 0);
        if (count.step(error) != SQLITE_ROW) return std::nullopt;
        return static_cast<std::size_t>(count.integer(0));
    });
}

}  // namespace velmora::history
