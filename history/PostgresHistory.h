#pragma once
// A line's history on a PostgreSQL server, through libpq. Every station sends its
// rows here under their run UUIDs: writing a row again changes nothing, and an
// older write of a row never replaces a newer one. The server's layout is
// versioned; the first station to connect brings it up to date, in one
// transaction under an advisory lock, and a server laid out by a newer program
// is refused.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryStore.h"

struct pg_conn;

namespace velmora::history {

// The layout this program writes; a server with a higher one is refused.
inline constexpr int kServerLayoutVersion = 3;
// How long a connection may take before the server counts as away; libpq's
// shortest. A URI's own connect_timeout wins.
inline constexpr std::chrono::seconds kServerConnectTimeout{2};
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

class PostgresHistory final : public HistoryStore {
public:
    // Connects (credentials as libpq finds them: the URI, ~/.pgpass, PGPASSFILE,
    // service files) and checks or brings up the layout. Null, with error, when
    // the server cannot be used; error never holds the URI's password.
    static std::unique_ptr<PostgresHistory> connect(const std::string& uri, std::string& error);
    ~PostgresHistory() override;
    PostgresHistory(const PostgresHistory&) = delete;
    PostgresHistory& operator=(const PostgresHistory&) = delete;

    bool record(HistoryRecord& record, std::string& error) override;
    std::optional<std::vector<HistoryRecord>> list(const HistoryFilter& filter, std::string& error) override;

    // Writes the rows in one transaction; the server's time of receipt (UTC,
    // IsoTime's form) on success.
    std::optional<std::string> send(const std::vector<HistoryRecord>& rows, std::string& error);
    // False once the connection broke: make a new one.
    bool usable() const;
    // The connection, for the line's other tables on the same server (the serial
    // numbers); it stays this object's.
    pg_conn* connection() const { return connection_; }
    // The connection's last error on one line, never with the URI's password.
    std::string failure() const;

private:
    PostgresHistory(pg_conn* connection, std::string uri) : connection_(connection), uri_(std::move(uri)) {}
    bool layOut(std::string& error);
    bool execute(const char* sql, std::string& error);
    bool upsert(const HistoryRecord& record, std::string& error);

    pg_conn* connection_;
    std::string uri_;
    bool prepared_ = false;
};

}  // namespace velmora::history
