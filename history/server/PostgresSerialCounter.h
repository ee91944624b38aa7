#pragma once
// The serial numbers of a production line kept on its PostgreSQL server: one
// counter per origin and prefix for every station that sends there, each number
// a row under UNIQUE (origin, prefix, number). A running station holds its name
// with a session advisory lock, so a second station of that name, on any host,
// is refused; the lock goes with the session, so a station that dies lets its
// name go. The connection is the process's one (PostgresHistory), shared with
// the sender.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "history/SerialCounter.h"
#include "history/server/PostgresHistory.h"
#include "workflows/RunOrigin.h"
#include "workflows/SerialNumberSource.h"

namespace velmora::history {

class PostgresSerialCounter final : public SerialNumberSource {
public:
    // The numbers of origin's hubs on server, which outlives the counter.
    PostgresSerialCounter(std::shared_ptr<PostgresHistory> server, RunOrigin origin);
    // Connects a server of its own now and checks or brings up its layout (tests):
    // the numbers of origin's hubs. Null, with error (never holding the URI's
    // password), when the server cannot be used.
    static std::unique_ptr<PostgresSerialCounter> connect(const std::string& uri, std::string& error,
                                                          RunOrigin origin = RunOrigin::Real);
    ~PostgresSerialCounter() override = default;

    bool beginStation(const std::string& station, std::string& error) override;
    std::optional<SerialBlock> reserveBlock(const std::string& station, const std::string& prefix,
                                            std::uint64_t start, std::uint64_t last, std::uint64_t count,
                                            std::string& error) override;
    bool markNumber(const std::string& prefix, std::uint64_t number, SerialState state, const RunId& run,
                    std::string& error) override;
    bool endStation(const std::string& station, std::string& error) override;

    // Every number of the prefix of this counter's origin, in order (all
    // prefixes when empty).
    std::optional<std::vector<SerialNumberRow>> numbers(const std::string& prefix, std::string& error);

private:
    // Runs work on the server's connection once the station's name is held on
    // its session (taken again after the session changed, or lost for good
    // when another station took it meanwhile).
    bool useAsStation(const PostgresHistory::Work& work, std::string& error);
    bool lockName(pg_conn* connection, const std::string& station, std::string& error);
    bool voidOpenNumbers(pg_conn* connection, const std::string& station, std::string& error);
    bool execute(pg_conn* connection, const char* sql, const std::vector<std::string>& values,
                 std::string& error);

    std::shared_ptr<PostgresHistory> server_;
    const std::string origin_;  // storedOrigin's word
    std::mutex mutex_;
    std::string station_;            // the name held, empty while no station runs
    std::uint64_t nameSession_ = 0;  // the session the name's lock was taken on
    bool nameLost_ = false;          // another station took the name while the server was away
};

}  // namespace velmora::history
