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
#include "history/SerialMarks.h"
#include "history/StationFile.h"
#include "history/server/PostgresHistory.h"
#include "workflows/RunOrigin.h"
#include "workflows/SerialNumberSource.h"

namespace velmora::history {

// Writes one mark on the server's connection (within the caller's use of it):
// a mark only moves a number on. False when the statement failed.
bool writeMarkOnServer(pg_conn* connection, const SerialMark& mark);

class PostgresSerialCounter final : public SerialNumberSource {
public:
    // The numbers of origin's hubs on server, which outlives the counter. With
    // the station's file, each mark is kept there first (history/SerialMarks.h)
    // and a station's start sends what its name left there before it voids
    // anything; without it (the file cannot be used) marks go to the server
    // alone.
    PostgresSerialCounter(std::shared_ptr<PostgresHistory> server, RunOrigin origin,
                          std::shared_ptr<StationFile> file = nullptr);
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
    bool keepMark(const std::string& station, const std::string& prefix, std::uint64_t number,
                  SerialState state, const RunId& run, std::string& error) override;
    bool sendKeptMarks(const std::string& station, std::size_t& waiting, std::string& error) override;

    // Every number of the prefix of this counter's origin, in order (all
    // prefixes when empty).
    std::optional<std::vector<SerialNumberRow>> numbers(const std::string& prefix, std::string& error);
    // As SerialCounter::given, on the server.
    std::optional<SerialNumberRow> given(const std::string& serial, std::string& error);

private:
    // Runs work on the server's connection once the station's name is held on
    // its session (taken again after the session changed, or lost for good
    // when another station took it meanwhile).
    bool useAsStation(const PostgresHistory::Work& work, std::string& error);
    bool lockName(pg_conn* connection, const std::string& station, std::string& error);
    // Voids the station's numbers still reserved or issued, but those whose
    // used mark still waits in the file (refused so far): a passed unit's
    // number is never voided.
    bool voidOpenNumbers(pg_conn* connection, const std::string& station,
                         const std::vector<SerialMark>& passed, std::string& error);
    // The station's used marks still waiting in the file; none without a file.
    std::optional<std::vector<SerialMark>> passedWaiting(const std::string& station, std::string& error);
    bool sendKeptLocked(const std::string& station, std::size_t& waiting, std::string& error);
    void letNameGo(const std::string& station);
    bool execute(pg_conn* connection, const char* sql, const std::vector<std::string>& values,
                 std::string& error);

    std::shared_ptr<PostgresHistory> server_;
    const std::string origin_;  // storedOrigin's word
    const std::shared_ptr<StationFile> file_;
    std::mutex mutex_;
    // The kept marks' sends, one at a time; never held while waiting for mutex_
    // (a mark is kept while another call waits for the server).
    std::mutex marksMutex_;
    RefusedMarks refused_;           // under marksMutex_
    std::string station_;            // the name held, empty while no station runs
    std::uint64_t nameSession_ = 0;  // the session the name's lock was taken on
    bool nameLost_ = false;          // another station took the name while the server was away
};

}  // namespace velmora::history
