#pragma once
// A throw-away PostgreSQL server for one test: Debian's own server programs,
// a cluster made with initdb in a scratch folder, listening only on a Unix
// socket inside that folder (no TCP port at all), stopped and removed with the
// test. It can be stopped and started again, for an outage. Where the server
// programs are not installed, usable() is false and problem() says so; the tests
// skip then.
#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"

namespace velmora::testing {

class PostgresServer {
public:
    // Makes the cluster and starts it, with one database for the test.
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool usable() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

    bool start();
    bool stop();
    // Freezes the server and every session of it with SIGSTOP, as a server that
    // stops answering with its connections still up; thaw() lets it go on. The
    // destructor thaws a frozen server before stopping it.
    bool freeze();
    void thaw();
    // postgresql:///velmora?host=<socket folder>&user=postgres
    std::string uri() const;
    // The URI with a password in its user part (the server trusts the socket, so
    // any password gets in: what counts is where the text shows).
    std::string uriWithPassword(const std::string& password) const;
    // A role that gets in with its password only (the server asks for it on
    // the socket, as a line's server does over the network).
    bool addPasswordRole(const std::string& role, const std::string& password);
    // The URI of role with password in its user part.
    std::string roleUri(const std::string& role, const std::string& password) const;
    // Runs SQL as the superuser; its rows, "|" between columns, a line each.
    std::string query(const std::string& sql);

private:
    // Runs a server program (as the postgres user when this is root); its output.
    bool run(const std::string& program, const std::vector<std::string>& arguments,
             std::string* output = nullptr);

    ScratchFolder scratch_{"velmora-pg"};
    std::string programs_;  // the server programs' folder
    std::string problem_;
    bool running_ = false;
    std::vector<int> frozen_;  // the processes freeze() stopped
};

}  // namespace velmora::testing
