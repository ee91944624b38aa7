#pragma once
// A line's history on a PostgreSQL server, through libpq, and the one owner of
// the process's connection to it: the sender, the serial counter and the
// history commands share it, each using it alone for the length of its work.
// Every station sends its rows here under their run UUIDs: writing a row again
// changes nothing, and an older write of a row never replaces a newer one. The
// server's layout is versioned (history/server/ServerTables.h); the first
// station to connect brings it up to date, in one transaction under an advisory
// lock, and a server laid out by a newer program is refused.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryStore.h"
#include "history/LineServer.h"

struct pg_conn;

namespace velmora::history {

// How long a connection may take before the server counts as away; libpq's
// shortest. A URI's own connect_timeout wins.
inline constexpr std::chrono::seconds kServerConnectTimeout{2};
// How long after a failed connection the next is tried: a station asks for
// every unit, and a server that is away should not cost each unit a timeout.
inline constexpr std::chrono::seconds kServerReconnectPause{1};
// What the server is asked of each station's session over TCP: a station whose
// host lost its power or its network sends no goodbye, so the server probes an
// idle session after 30 s, every 10 s, and ends it after 3 probes unanswered,
// which frees its station name (a lock the session holds) in about a minute
// rather than at the system's default of two hours. A session cut while the
// server's answer was on its way is not idle: its end would wait for the
// retransmissions to give up (about 15 minutes), so unacknowledged data is
// given a minute too.
inline constexpr const char* kSessionKeepalives =
    "-c tcp_keepalives_idle=30 -c tcp_keepalives_interval=10 -c tcp_keepalives_count=3"
    " -c tcp_user_timeout=60000";

// The password the client library itself finds in uri (decoded, wherever the
// URI holds it), empty when none: what no message may show.
std::string passwordLibpqFinds(const std::string& uri);

// The server a URI names, as every station's rows are addressed to it: its
// service, host, address, port, database and user as libpq reads them, never the
// password or any other setting, so URIs that differ only in those name one server.
std::string serverIdentity(const std::string& uri);

class PostgresHistory final : public HistoryStore, public LineServer {
public:
    // The server at uri (credentials as libpq finds them: the URI, ~/.pgpass,
    // PGPASSFILE, service files), connected on its first use.
    explicit PostgresHistory(std::string uri);
    // Connects now and checks or brings up the layout. Null, with error, when
    // the server cannot be used; error never holds the URI's password.
    static std::unique_ptr<PostgresHistory> connect(const std::string& uri, std::string& error);
    ~PostgresHistory() override;
    PostgresHistory(const PostgresHistory&) = delete;
    PostgresHistory& operator=(const PostgresHistory&) = delete;

    bool record(HistoryRecord& record, std::string& error) override;
    std::optional<std::vector<HistoryRecord>> list(const HistoryFilter& filter, std::string& error) override;
    std::optional<std::vector<ReportLine>> report(const ReportRequest& request, std::string& error) override;
    std::optional<std::string> send(const std::vector<HistoryRecord>& rows, std::string& error) override;
    // history/server/PostgresSerialMarks.cpp, beside the serial counter's statements.
    bool sendMarks(const std::vector<SerialMark>& marks, std::string& error) override;
    std::string name() const override;
    std::string identity() const override { return identity_; }
    bool answered() const override { return answered_; }
    bool refusedConnection() const override { return refusedConnection_; }

    // Runs work on the connection alone, for its length (a transaction of
    // several statements), connecting first when there is no usable connection:
    // at once the first time and after a break, no sooner than
    // kServerReconnectPause after a try that failed. False, with error, when
    // there is no connection or work fails; failure() words the connection's
    // last error for work.
    using Work = std::function<bool(pg_conn* connection, std::string& error)>;
    bool use(const Work& work, std::string& error);
    // The connection's last error on one line, never with the URI's password.
    // Only within use().
    std::string failure() const;
    // How many sessions were made: a new one has lost what the last held (the
    // station name's lock). May be asked within use().
    std::uint64_t sessions() const { return sessions_; }

private:
    bool connectLocked(std::string& error);
    bool layOut(std::string& error);
    bool execute(const char* sql, std::string& error);
    bool upsert(const HistoryRecord& record, std::string& error);
    // One try of send(): whether the rows went, and (failing) whether the server
    // answered, and whether what it said is no row's fault (transientFailure).
    std::optional<std::string> sendOnce(const std::vector<HistoryRecord>& rows, bool& refused,
                                        bool& transient, std::string& error);

    const std::string uri_;
    const std::string password_;  // as the client library reads it from uri_
    const std::string identity_;
    mutable std::mutex mutex_;
    pg_conn* connection_ = nullptr;
    bool prepared_ = false;    // the upsert is prepared on this session
    std::string upsertState_;  // the SQLSTATE of the last upsert that failed
    std::atomic<std::uint64_t> sessions_{0};
    std::optional<std::chrono::steady_clock::time_point> failedAt_;  // the last try that failed
    std::string lastFailure_;
    std::atomic<bool> answered_{true};  // the last send reached the server
    // The last try to connect failed because the server refused it, not because
    // it could not be reached.
    std::atomic<bool> refusedConnection_{false};
};

}  // namespace velmora::history
