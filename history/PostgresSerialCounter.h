#pragma once
// The serial numbers of a production line kept on its PostgreSQL server: one
// counter per prefix for every station that sends there, each number a row under
// UNIQUE (prefix, number). A running station holds its name with a session
// advisory lock, so a second station of that name, on any host, is refused; the
// lock goes with the connection, so a station that dies lets its name go.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "history/PostgresHistory.h"
#include "history/SerialCounter.h"
#include "workflows/SerialNumberSource.h"

namespace velmora::history {

// How long after a failed reconnection the next is tried: a station asks for
// every unit, and a server that is away should not cost each unit a timeout.
inline constexpr std::chrono::seconds kSerialReconnectPause{1};

class PostgresSerialCounter final : public SerialNumberSource {
public:
    // Connects and checks or brings up the server's layout. Null, with error
    // (never holding the URI's password), when the server cannot be used.
    static std::unique_ptr<PostgresSerialCounter> connect(const std::string& uri, std::string& error);
    ~PostgresSerialCounter() override = default;

    bool beginStation(const std::string& station, std::string& error) override;
    std::optional<SerialBlock> reserveBlock(const std::string& station, const std::string& prefix,
                                            std::uint64_t start, std::uint64_t last, std::uint64_t count,
                                            std::string& error) override;
    bool markNumber(const std::string& prefix, std::uint64_t number, SerialState state,
                    std::string& error) override;
    bool endStation(const std::string& station, std::string& error) override;

    // Every number of the prefix, in order (all prefixes when empty).
    std::optional<std::vector<SerialNumberRow>> numbers(const std::string& prefix, std::string& error);

private:
    explicit PostgresSerialCounter(std::unique_ptr<PostgresHistory> server) : server_(std::move(server)) {}
    bool reachable(std::string& error);
    bool lockName(const std::string& station, std::string& error);
    bool voidOpenNumbers(const std::string& station, std::string& error);
    bool execute(const char* sql, const std::vector<std::string>& values, std::string& error);
    std::string failure() const;

    std::unique_ptr<PostgresHistory> server_;
    std::mutex mutex_;
    std::string station_;    // the name held, empty while no station runs
    bool nameLost_ = false;  // another station took the name while the server was away
    std::chrono::steady_clock::time_point lastReconnect_{};
};

}  // namespace velmora::history
