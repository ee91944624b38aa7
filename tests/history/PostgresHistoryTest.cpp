// A line of stations on one real PostgreSQL server (Debian's, started by the
// test on a Unix socket of its own): stations of eight simulated hubs each
// writing at once, an outage in the middle, the sender catching up on its own,
// a server laid out by a newer program, and a password that must never show.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/RunId.h"
#include "history/HistoryDatabase.h"
#include "history/HistorySender.h"
#include "history/RunRecorder.h"
#include "history/StationFile.h"
#include "history/server/PostgresHistory.h"
#include "history/server/PostgresResult.h"
#include "history/server/ServerTables.h"
#include "tests/cli/CliProcess.h"
#include "tests/history/ReportRuns.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SmallDisk.h"

extern char** environ;

namespace velmora::testing {
namespace {

const std::string kSampleImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";

class PostgresHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server_.usable()) GTEST_SKIP() << server_.problem();
        std::filesystem::copy_file(kSampleImage, scratch_.path("fw.bin"));
        std::ofstream(scratch_.path("config.ini")) << "[Parvane Config]\nFwBin = fw.bin\n"
                                                      "[Support Vid Pid]\nVID_00 = 0x2FE3\n"
                                                      "SSPID_00 = 0x0611\nHSPID_00 = 0x0610\n";
    }

    // A station of its own: its own state folder, so its own history file.
    std::vector<std::string> stationEnvironment(const std::string& station) {
        const std::string state = scratch_.path("state-" + station);
        std::filesystem::create_directories(state);
        std::filesystem::permissions(state, std::filesystem::perms::owner_all);
        return {"XDG_STATE_HOME=" + state};
    }

    CliRun station(const std::string& name, const std::string& history, int units) {
        return runCli({"--config", scratch_.path("config.ini"), "--simulate=eight-hubs", "--history", history,
                       "--station-name", name, "station", kSampleImage, "--count", std::to_string(units)},
                      stationEnvironment(name));
    }

    // The station's own file in the scratch folder, with run recorded in it.
    std::shared_ptr<history::StationFile> stationFileWith(history::HistoryRecord& run) {
        std::string error;
        auto file =
            history::StationFile::open(scratch_.path("station.sqlite"), FolderCreation::MustExist, error);
        EXPECT_TRUE(file) << error;
        if (file) {
            EXPECT_TRUE(file->database().record(run, error)) << error;
        }
        return file;
    }

    std::string stationFile(const std::string& name) {
        return scratch_.path("state-" + name) + "/velmora/history.sqlite";
    }

    PostgresServer server_;
    ScratchFolder scratch_{"velmora-line"};
};

// velmora-cli started without waiting for it, so several stations run at once.
pid_t startCli(const std::vector<std::string>& arguments, const std::vector<std::string>& extra,
               const std::string& output) {
    // Ours go first: getenv takes the first entry of a name.
    std::vector<std::string> environment{"VELMORA_SIMULATED_TIME=virtual"};
    environment.insert(environment.end(), extra.begin(), extra.end());
    for (char** variable = environ; *variable != nullptr; ++variable) environment.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> words{VELMORA_CLI_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t child = -1;
    posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

TEST_F(PostgresHistoryTest, FourStationsOfEightHubsLeaveOneRowPerUnit) {
    std::vector<pid_t> stations;
    for (int index = 1; index <= 4; ++index) {
        const std::string name = "station-" + std::to_string(index);
        stations.push_back(
            startCli({"--config", scratch_.path("config.ini"), "--simulate=eight-hubs", "--history",
                      server_.uri(), "--station-name", name, "station", kSampleImage, "--count", "8"},
                     stationEnvironment(name), scratch_.path(name + ".out")));
    }
    for (const pid_t child : stations) {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(server_.query("SELECT station, count(*), count(DISTINCT run_uuid), count(DISTINCT port),"
                            " count(*) FILTER (WHERE result = 'success' AND origin = 'simulated')"
                            " FROM velmora_runs GROUP BY station ORDER BY station;"),
              "station-1|8|8|8|8\nstation-2|8|8|8|8\nstation-3|8|8|8|8\nstation-4|8|8|8|8\n");
    // Each station's own file holds its runs too, each marked with when the server took it.
    const CliRun local = runCli({"--history", stationFile("station-2"), "--json", "history"});
    EXPECT_EQ(local.exitStatus, 0) << local.err;
    EXPECT_EQ(local.out.find("\"server_time\":\"\""), std::string::npos) << local.out;
    EXPECT_NE(local.out.find("\"station\":\"station-2\""), std::string::npos);

    // The line's view leaves the bench runs out unless asked.
    CliRun report = runCli({"--history", server_.uri(), "history", "report", "--by", "station"});
    EXPECT_EQ(report.exitStatus, 0) << report.err;
    EXPECT_EQ(report.out, "");
    report =
        runCli({"--history", server_.uri(), "history", "report", "--by", "station", "--include-simulated"});
    EXPECT_EQ(lines(report.out).size(), 4u) << report.out;
    EXPECT_EQ(lines(report.out)[0], "station-1: units 8, passed 8, failed 0, unfinished 0, yield 100.0%")
        << report.out;
    const CliRun one = runCli({"--history", server_.uri(), "history", "--csv", "--station", "station-3"});
    EXPECT_EQ(lines(one.out).size(), 9u) << one.err;  // the header and its eight units

    // The line's server in VELMORA_HISTORY: listings read it, but a bench's
    // simulated runs stay on the bench.
    std::vector<std::string> bench = stationEnvironment("bench");
    bench.push_back("VELMORA_HISTORY=" + server_.uri());
    const CliRun simulatedRun = runCli({"--config", scratch_.path("config.ini"), "--simulate=eight-hubs",
                                        "station", kSampleImage, "--count", "2"},
                                       bench);
    EXPECT_EQ(simulatedRun.exitStatus, 0) << simulatedRun.err;
    EXPECT_EQ(lines(runCli({"history", "--csv"}, bench).out).size(), 33u);  // the header and the line's 32
    EXPECT_EQ(lines(runCli({"--history", stationFile("bench"), "history"}).out).size(), 2u);
}

TEST_F(PostgresHistoryTest, AfterAnOutageSyncLeavesEveryRunOnceOnTheServer) {
    ASSERT_EQ(station("bench", server_.uri(), 8).exitStatus, 0);
    ASSERT_TRUE(server_.stop());
    const CliRun offline = station("bench", server_.uri(), 8);
    EXPECT_EQ(offline.exitStatus, 0) << offline.err;  // the runs never wait for the server
    std::size_t told = 0;
    for (std::size_t at = offline.err.find("is offline"); at != std::string::npos;
         at = offline.err.find("is offline", at + 1))
        ++told;
    EXPECT_EQ(told, 1u) << offline.err;
    CliRun sync = runCli({"--history", server_.uri(), "history", "sync"}, stationEnvironment("bench"));
    EXPECT_EQ(sync.exitStatus, 1);
    EXPECT_NE(sync.err.find("the runs wait on this station"), std::string::npos) << sync.err;

    ASSERT_TRUE(server_.start());
    sync = runCli({"--history", server_.uri(), "history", "sync"}, stationEnvironment("bench"));
    EXPECT_EQ(sync.exitStatus, 0) << sync.err;
    EXPECT_NE(sync.out.find("8 run records sent"), std::string::npos) << sync.out;
    sync = runCli({"--history", server_.uri(), "history", "sync"}, stationEnvironment("bench"));
    EXPECT_NE(sync.out.find(" 0 run records sent"), std::string::npos) << sync.out;
    EXPECT_EQ(server_.query("SELECT count(*), count(DISTINCT run_uuid) FROM velmora_runs;"), "16|16\n");
    const CliRun listed = runCli({"--history", server_.uri(), "history"});
    EXPECT_EQ(lines(listed.out).size(), 16u) << listed.err;
}

// The sender alone, as a long-running station holds it: rows written while the
// server is away reach it on the sender's own next try once it answers, and an
// unfinished row is completed there when its run ends.
TEST_F(PostgresHistoryTest, SenderCatchesUpOnItsOwnAndCompletesUnfinishedRows) {
    const std::string path = scratch_.path("station.sqlite");
    std::string error;
    const std::shared_ptr<history::StationFile> file =
        history::StationFile::open(path, FolderCreation::MustExist, error);
    ASSERT_TRUE(file) << error;
    history::HistoryDatabase* local = &file->database();
    std::mutex mutex;
    std::vector<std::string> notices;
    history::RetryPlan retry{std::chrono::milliseconds(100), std::chrono::milliseconds(400)};
    history::PostgresHistory line(server_.uri());
    history::HistorySender sender(file, line, true, retry, [&](const std::string& line) {
        std::lock_guard lock(mutex);
        notices.push_back(line);
    });
    const auto waitFor = [this](const std::string& sql, const std::string& expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::string found;
        while ((found = server_.query(sql)) != expected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return found;
    };

    history::HistoryRecord run;
    run.operation = "update";
    run.started = isoUtc(wallNow());
    run.port = "1-1";
    ASSERT_TRUE(local->record(run, error)) << error;
    sender.wake();
    const std::string unfinished = "SELECT result FROM velmora_runs WHERE run_uuid = '" + run.runUuid + "';";
    EXPECT_EQ(waitFor(unfinished, "unfinished\n"), "unfinished\n");
    run.result = history::kResultSuccess;
    ASSERT_TRUE(local->record(run, error)) << error;
    sender.wake();
    EXPECT_EQ(waitFor(unfinished, "success\n"), "success\n");

    ASSERT_TRUE(server_.stop());
    for (int index = 0; index < 3; ++index) {
        history::HistoryRecord waiting = run;
        waiting.id = 0;
        waiting.runUuid.clear();
        ASSERT_TRUE(local->record(waiting, error)) << error;
    }
    sender.wake();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // a few tries against the stopped server
    ASSERT_TRUE(server_.start());
    const auto answered = std::chrono::steady_clock::now();
    EXPECT_EQ(waitFor("SELECT count(*) FROM velmora_runs;", "4\n"), "4\n");
    EXPECT_LT(std::chrono::steady_clock::now() - answered, std::chrono::seconds(60));
    auto rows = local->unsent({line.identity(), true}, 10, error);
    const auto markDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rows && !rows->empty() && std::chrono::steady_clock::now() < markDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        rows = local->unsent({line.identity(), true}, 10, error);
    }
    ASSERT_TRUE(rows) << error;
    EXPECT_TRUE(rows->empty());
    std::lock_guard lock(mutex);
    ASSERT_EQ(notices.size(), 2u);  // away once, however many tries; back once
    EXPECT_NE(notices[0].find("is offline"), std::string::npos) << notices[0];
    EXPECT_NE(notices[1].find("answers again; 3 waiting run records sent"), std::string::npos) << notices[1];
}

TEST_F(PostgresHistoryTest, ServerOfANewerLayoutIsRefusedAndTheRunWaitsOnTheStation) {
    const CliRun first = runCli({"--history", server_.uri(), "history"});
    ASSERT_EQ(first.exitStatus, 0) << first.err;  // lays the server out
    server_.query("UPDATE velmora_layout SET version = version + 1;");
    const CliRun listed = runCli({"--history", server_.uri(), "history"});
    EXPECT_EQ(listed.exitStatus, 2);
    std::string expected = "newer than this program's (";
    expected += std::to_string(history::kServerLayoutVersion);
    expected += ")";
    EXPECT_NE(listed.err.find(expected), std::string::npos) << listed.err;

    const CliRun run = station("bench", server_.uri(), 1);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("newer than this program's"), std::string::npos) << run.err;
    EXPECT_EQ(server_.query("SELECT count(*) FROM velmora_runs;"), "0\n");
    const CliRun local = runCli({"--history", stationFile("bench"), "--json", "history"});
    EXPECT_NE(local.out.find("\"server_time\":\"\""), std::string::npos) << local.out;
}

// A server frozen with its sessions up (SIGSTOP: the kernel still holds the
// connections open) costs a statement its bound and no more: the send fails
// saying so, the sender's last try does not hold the program's end, a command
// run against it ends with its hub updated and its row waiting on the station,
// and once the server answers again the rows go.
TEST_F(PostgresHistoryTest, AFrozenServerHoldsNeitherAStatementNorTheProgramsEnd) {
    std::string error;
    auto line = history::PostgresHistory::connect(server_.uri(), error);
    ASSERT_TRUE(line) << error;
    history::HistoryRecord run;
    run.operation = "update";
    run.started = isoUtc(wallNow());
    run.port = "1-1";
    const std::shared_ptr<history::StationFile> file = stationFileWith(run);
    ASSERT_TRUE(file && run.id != 0);

    ASSERT_TRUE(server_.freeze());
    EXPECT_FALSE(line->send({run}, error));
    EXPECT_NE(error.find("did not answer within"), std::string::npos) << error;
    {
        history::HistorySender sender(file, *line, true, history::RetryPlan{}, nullptr);
        sender.wake();
    }  // its last try ends here
    const CliRun update = runCli({"--config", scratch_.path("config.ini"), "--simulate=eight-hubs",
                                  "--history", server_.uri(), "update", kSampleImage, "--all"},
                                 stationEnvironment("frozen"));
    EXPECT_EQ(update.exitStatus, 0) << update.out << update.err;
    EXPECT_NE(update.err.find("is offline"), std::string::npos) << update.err;
    server_.thaw();

    std::optional<std::size_t> sent;
    for (const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         !sent && std::chrono::steady_clock::now() < guard;) {
        sent = history::sendWaitingRows(file->database(), *line, true, error);
        if (!sent) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(sent, std::optional<std::size_t>(1)) << error;
    const CliRun sync = runCli({"--history", server_.uri(), "history", "sync"}, stationEnvironment("frozen"));
    EXPECT_EQ(sync.exitStatus, 0) << sync.err;
    EXPECT_EQ(server_.query("SELECT count(*) FROM velmora_runs;"), "9\n");
}

// A station whose own file cannot be used (a folder in its place) and whose
// line's server can: each unit that took a number has its row on the server,
// sent there directly, and the station says so.
TEST_F(PostgresHistoryTest, AStationWhoseFileCannotBeUsedRecordsEachUnitOnTheServer) {
    std::filesystem::create_directories(stationFile("bay-9"));
    const CliRun run = runCli({"--config", scratch_.path("config.ini"), "--simulate=eight-hubs", "--history",
                               server_.uri(), "--station-name", "bay-9", "station", kSampleImage, "--count",
                               "8", "--serial-prefix", "DF", "--serial-digits", "5"},
                              stationEnvironment("bay-9"));
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.err.find("sent to the history server"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("could never be written"), std::string::npos) << run.err;
    EXPECT_EQ(server_.query("SELECT count(*), count(DISTINCT hub_serial) FILTER (WHERE hub_serial LIKE 'DF%')"
                            " FROM velmora_runs WHERE result = 'success' AND station = 'bay-9';"),
              "8|8\n");
    EXPECT_EQ(
        server_.query("SELECT count(*) FROM velmora_serial_numbers WHERE prefix = 'DF' AND state = 'used';"),
        "8\n");
}

// A disk that fills in the middle of a unit and stays full, with the line's
// server named: the unit's end reaches the server directly and stays there,
// whatever older copy of its row the file's sender sent before. The disk is a
// small tmpfs in a child's mount namespace (root only).
TEST_F(PostgresHistoryTest, ADiskThatFillsInAUnitsMiddleLeavesItsEndOnTheServer) {
    if (!runningAsRoot()) GTEST_SKIP() << "a small file system of its own needs root";
    const std::string disk = scratch_.path("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0700), 0);
    const ChildEnd end = runInChild([&] {
        if (!mountSmallDisk(disk)) return kNoFileSystemOfItsOwn;
        history::StationFileAccess file(disk + "/history.sqlite", FolderCreation::MustExist);
        std::string error;
        if (!file.open(error)) return 2;
        history::PostgresHistory line(server_.uri());
        RecorderSettings settings{"bay-3"};
        settings.server = &line;
        settings.stationsOwnServer = true;
        settings.retry = {std::chrono::milliseconds(50), std::chrono::milliseconds(50)};
        SystemClock clock;
        RunRecorder recorder(file, settings, clock, nullptr);
        std::unique_ptr<RunLog> unit = recorder.runStarted({});
        unit->phaseStarted(RunPhase::Erase);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the sender's turn for the early row
        fillDisk(disk + "/filler");
        unit->phaseStarted(RunPhase::Write);
        unit->ended({true, ""});
        return 0;
    });
    if (end.exitStatus == kNoFileSystemOfItsOwn) GTEST_SKIP() << "no mount namespace of its own here";
    ASSERT_EQ(end.exitStatus, std::optional<int>(0));
    EXPECT_EQ(server_.query("SELECT result, station FROM velmora_runs;"), "success|bay-3\n");
}

// Text the server cannot take as UTF-8 (an image path in Latin-1, a station name
// with a raw byte) no longer fails its batch: it goes as UTF-8, the rows after it
// too, and the station's own file keeps the bytes as they came.
TEST_F(PostgresHistoryTest, BytesThatAreNoUtf8StopNoRow) {
    std::string error;
    auto line = history::PostgresHistory::connect(server_.uri(), error);
    ASSERT_TRUE(line) << error;
    std::vector<history::HistoryRecord> rows(3);
    for (std::size_t index = 0; index < rows.size(); ++index) {
        rows[index].runUuid = RunId::make(wallNow()).text();
        rows[index].operation = "update";
        rows[index].started = isoUtc(wallNow());
        rows[index].port = "1-" + std::to_string(index + 1);
    }
    rows[0].imagePath = "/images/caf\xE9.bin";
    rows[1].station = "bay-\xFF";
    ASSERT_TRUE(line->send(rows, error)) << error;
    EXPECT_EQ(server_.query("SELECT image_path, station FROM velmora_runs ORDER BY port;"),
              "/images/caf\xEF\xBF\xBD.bin|\n|bay-\xEF\xBF\xBD\n|\n");
}

// A row the server refuses (here a run UUID a hostile hand wrote into the
// station's file) is set aside with the server's reason: the rows after it
// still go, the station is never called offline for it, and a command's own
// send says what was refused.
TEST_F(PostgresHistoryTest, ARowTheServerRefusesIsSetAsideAndTheOthersGo) {
    std::string error;
    const std::shared_ptr<history::StationFile> file =
        history::StationFile::open(scratch_.path("station.sqlite"), FolderCreation::MustExist, error);
    ASSERT_TRUE(file) << error;
    for (const char* port : {"1-1", "1-2", "1-3"}) {
        history::HistoryRecord run;
        run.operation = "update";
        run.started = isoUtc(wallNow());
        run.port = port;
        if (std::string(port) == "1-1") run.runUuid = "not-a-uuid";
        ASSERT_TRUE(file->database().record(run, error)) << error;
    }
    history::PostgresHistory line(server_.uri());
    EXPECT_FALSE(history::sendWaitingRows(file->database(), line, true, error));
    EXPECT_NE(error.find("2 run records sent; 1 refused by the server ("), std::string::npos) << error;
    EXPECT_EQ(server_.query("SELECT port FROM velmora_runs ORDER BY port;"), "1-2\n1-3\n");

    std::vector<std::string> notices;
    {
        history::HistorySender sender(file, line, true, history::RetryPlan{},
                                      [&notices](const std::string& notice) { notices.push_back(notice); });
        sender.wake();
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("refused 1 run records ("), std::string::npos) << notices[0];
    EXPECT_EQ(notices[0].find("offline"), std::string::npos) << notices[0];
}

// The server's layout 5 adds the image's signature, as the station file's 6 does:
// a server of layout 4 is upgraded by the next station and keeps its rows.
TEST_F(PostgresHistoryTest, ServerOfLayoutFourGetsTheSignatureColumns) {
    ASSERT_EQ(station("bay-1", server_.uri(), 1).exitStatus, 0);
    server_.query(std::string(kServerWithoutReportCounts) +
                  "ALTER TABLE velmora_runs DROP COLUMN signature, DROP COLUMN signature_key,"
                  " DROP COLUMN signature_comment, DROP COLUMN signed_sha256, DROP COLUMN line_server,"
                  " DROP COLUMN unit_id; UPDATE velmora_layout SET version = 4;");
    const CliRun run = station("bay-2", server_.uri(), 1);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(server_.query("SELECT version FROM velmora_layout;"),
              std::to_string(history::kServerLayoutVersion) + "\n");
    // The earlier row was not judged; the new one's image is unsigned, as no key is trusted.
    EXPECT_EQ(server_.query("SELECT station, signature FROM velmora_runs ORDER BY id;"),
              "bay-1|\nbay-2|unsigned\n");
}

// A station whose host loses its power says no goodbye: its session (and the
// station name its lock holds) must not outlive it by the system's two hours;
// and a statement, a lock wait or a transaction left open has a bound of the
// server's too.
// The server takes the settings over TCP; on this fixture's Unix socket it
// reads them as zero, so what is checked is that the session asked for them.
TEST_F(PostgresHistoryTest, EachSessionAsksTheServerToProbeAnIdleStationAndBoundItsStatements) {
    std::string error;
    auto history = history::PostgresHistory::connect(server_.uri(), error);
    ASSERT_TRUE(history) << error;
    const bool asked = history->use(
        [](pg_conn* connection, std::string&) {
            const history::PostgresResult settings(
                PQexec(connection,
                       "SELECT name, source FROM pg_settings WHERE name LIKE 'tcp_keepalives%'"
                       " OR name IN ('tcp_user_timeout', 'statement_timeout', 'lock_timeout',"
                       " 'idle_in_transaction_session_timeout') ORDER BY name;"));
            EXPECT_TRUE(settings.is(PGRES_TUPLES_OK));
            EXPECT_EQ(settings.rows(), 7);
            for (int row = 0; row < settings.rows(); ++row)
                EXPECT_EQ(settings.text(row, 1), "client") << settings.text(row, 0);
            return true;
        },
        error);
    EXPECT_TRUE(asked) << error;
}

TEST_F(PostgresHistoryTest, PasswordInTheUriIsUsedButNeverShown) {
    const std::string password = "Sekr1t-pw";
    const std::string uri = server_.uriWithPassword(password);
    const CliRun run = station("bench", uri, 2);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("other local users can read"), std::string::npos) << run.err;
    EXPECT_EQ(server_.query("SELECT count(*) FROM velmora_runs;"), "2\n");
    const CliRun listed = runCli({"--history=" + uri, "--json", "history"});
    EXPECT_EQ(listed.exitStatus, 0) << listed.err;
    ASSERT_TRUE(server_.stop());
    const CliRun away = station("bench", uri + "&password=" + password, 1);
    const CliRun sync = runCli({"--history", uri, "history", "sync"}, stationEnvironment("bench"));
    const CliRun failed = runCli({"--history", uri, "history", "report"});
    for (const CliRun* shown : {&run, &listed, &away, &sync, &failed}) {
        EXPECT_EQ(shown->out.find(password), std::string::npos) << shown->out;
        EXPECT_EQ(shown->err.find(password), std::string::npos) << shown->err;
    }
    EXPECT_NE(away.err.find("is offline"), std::string::npos) << away.err;
    EXPECT_NE(sync.err.find("postgresql://postgres@/velmora"), std::string::npos) << sync.err;
    // libpq's message of several lines reaches the user as one.
    EXPECT_NE(failed.err.find("failed: No such file or directory; Is the server running"), std::string::npos)
        << failed.err;
}

// The server's layout 6 gives each row the server it was written for, 7 the
// unit's scanned ID, 8 the report's counts: a server of the layout before each
// is upgraded by the next station and keeps its rows; the next row carries
// both, and the report counts the rows before and after.
TEST_F(PostgresHistoryTest, ServersOfLayoutsFiveToSevenGetTheRowsServerTheUnitsIdAndCounts) {
    struct Earlier {
        int layout;
        const char* back;        // from today's layout to that one
        const char* firstRowIs;  // the earlier row, as the upgraded server shows it
    };
    const std::vector<Earlier> earlier = {
        {5, "ALTER TABLE velmora_runs DROP COLUMN unit_id, DROP COLUMN line_server;", "bay-1|none|f\n"},
        {6, "ALTER TABLE velmora_runs DROP COLUMN unit_id;", "bay-1|none|t\n"},
        {7, "", "bay-1|none|t\n"},
    };
    for (const auto& [layout, back, firstRowIs] : earlier) {
        SCOPED_TRACE(layout);
        server_.query(
            "DROP TABLE IF EXISTS velmora_runs, velmora_layout, velmora_serial_counters,"
            " velmora_serial_numbers;" +
            std::string(kServerWithoutReportCounts));
        ASSERT_EQ(station("bay-1", server_.uri(), 1).exitStatus, 0);
        server_.query(std::string(kServerWithoutReportCounts) + back +
                      "UPDATE velmora_layout SET version = " + std::to_string(layout) + ";");
        std::string error;
        auto line = history::PostgresHistory::connect(server_.uri(), error);
        ASSERT_TRUE(line) << error;
        history::HistoryRecord scanned;
        scanned.operation = "station";
        scanned.started = isoUtc(wallNow());
        scanned.unitId = "LBL-7";
        scanned.lineServer = line->identity();
        ASSERT_TRUE(line->record(scanned, error)) << error;
        EXPECT_EQ(server_.query("SELECT version FROM velmora_layout;"),
                  std::to_string(history::kServerLayoutVersion) + "\n");
        EXPECT_EQ(
            server_.query("SELECT station, coalesce(unit_id, 'none'), line_server <> '' FROM velmora_runs"
                          " ORDER BY id;"),
            std::string(firstRowIs) + "|LBL-7|t\n");
        history::HistoryFilter filter;
        filter.unitId = "LBL-7";
        const auto found = line->list(filter, error);
        ASSERT_TRUE(found) << error;
        ASSERT_EQ(found->size(), 1u);
        EXPECT_EQ((*found)[0].unitId, scanned.unitId);
        expectReportsAsListed(*line);
    }
}

// Each row goes to the server it was written for: a bench command naming
// another server (another database) takes its own rows there and none of the
// station's, which wait for the station's server and go when it answers.
TEST_F(PostgresHistoryTest, RowsGoOnlyToTheServerTheyWereWrittenFor) {
    server_.query("CREATE DATABASE bench;");
    std::string benchUri = server_.uri();
    benchUri.replace(benchUri.find("/velmora?"), 9, "/bench?");
    ASSERT_EQ(runCli({"--history", server_.uri(), "history"}).exitStatus, 0);  // lays the line's server out
    ASSERT_TRUE(server_.stop());
    EXPECT_EQ(station("bay", server_.uri(), 2).exitStatus, 0);
    ASSERT_TRUE(server_.start());
    const CliRun bench = runCli({"--config", scratch_.path("config.ini"), "--simulate=eight-hubs",
                                 "--history", benchUri, "update", kSampleImage, "--all"},
                                stationEnvironment("bay"));
    EXPECT_EQ(bench.exitStatus, 0) << bench.err;
    EXPECT_EQ(server_.query("SELECT count(*) FROM velmora_runs;"), "0\n");  // the line's server got none
    const CliRun sync = runCli({"--history", server_.uri(), "history", "sync"}, stationEnvironment("bay"));
    EXPECT_EQ(sync.exitStatus, 0) << sync.err;
    EXPECT_EQ(server_.query("SELECT operation, count(*) FROM velmora_runs GROUP BY operation;"),
              "station|2\n");
}

// The server counts a report itself, and gives the lines buildReport makes of
// the same rows, for every grouping, filter and kind of run.
TEST_F(PostgresHistoryTest, ReportCountedOnTheServerGivesTheListedRunsLines) {
    std::string error;
    const auto server = history::PostgresHistory::connect(server_.uri(), error);
    ASSERT_TRUE(server) << error;
    // Each run sent as its first write left it, then as its last.
    std::vector<history::HistoryRecord> runs = variedRuns();
    std::vector<history::HistoryRecord> firsts;
    for (std::size_t index = 0; index < runs.size(); ++index) {
        runs[index].runUuid = RunId::make(wallNow()).text();
        runs[index].revision = 2;
        firsts.push_back(firstWriteOf(runs[index], index));
        firsts.back().revision = 1;
    }
    ASSERT_TRUE(server->send(firsts, error)) << error;
    ASSERT_TRUE(server->send(runs, error)) << error;
    expectReportsAsListed(*server);
    server_.query(handEdits("velmora_runs"));
    EXPECT_EQ(
        server_.query("SELECT count(*) FROM velmora_runs WHERE unit_id = 'U7' OR station = 'bay-order';"),
        "2\n");
    expectReportsAsListed(*server);
}

// A server that will not let the station in (a wrong password, a database it
// does not have) answered: the sender says what it said, never "offline" and
// never the password, and the rows wait on the station, none set aside.
TEST_F(PostgresHistoryTest, AConnectionTheServerRefusesIsNotCalledOffline) {
    ASSERT_TRUE(server_.addPasswordRole("line", "right-pw"));
    struct Refusal {
        std::string uri;
        std::string said;
    };
    const std::string elsewhere = server_.roleUri("line", "right-pw");
    for (const Refusal& refusal :
         {Refusal{server_.roleUri("line", "wrong-pw"), "password authentication failed for user \"line\""},
          Refusal{elsewhere.substr(0, elsewhere.find("/velmora?")) + "/nowhere?" +
                      elsewhere.substr(elsewhere.find("?") + 1),
                  "database \"nowhere\" does not exist"}}) {
        std::string error;
        history::HistoryRecord run;
        run.operation = "update";
        run.started = isoUtc(wallNow());
        const std::shared_ptr<history::StationFile> file = stationFileWith(run);
        ASSERT_TRUE(file && run.id != 0);
        history::PostgresHistory line(refusal.uri);
        history::RefusedRows refused;
        EXPECT_FALSE(history::sendWaitingRows(file->database(), line, true, error, 0, &refused));
        EXPECT_TRUE(line.answered() && line.refusedConnection()) << error;
        EXPECT_TRUE(refused.runs.empty());
        std::vector<std::string> notices;
        {
            history::HistorySender sender(
                file, line, true, history::RetryPlan{},
                [&notices](const std::string& notice) { notices.push_back(notice); });
            sender.wake();
        }
        ASSERT_EQ(notices.size(), 1u) << refusal.uri;
        EXPECT_NE(notices[0].find("refused this station's connection"), std::string::npos) << notices[0];
        EXPECT_NE(notices[0].find(refusal.said), std::string::npos) << notices[0];
        EXPECT_EQ(notices[0].find("offline"), std::string::npos) << notices[0];
        EXPECT_EQ(notices[0].find("-pw"), std::string::npos) << notices[0];
        // A station taking its serial numbers there is refused with what the server said.
        const CliRun serials = runCli(
            {"--config", scratch_.path("config.ini"), "--simulate=eight-hubs", "--history", refusal.uri,
             "station", kSampleImage, "--count", "1", "--serial-prefix", "RF", "--serial-digits", "5"},
            stationEnvironment("refused"));
        EXPECT_NE(serials.exitStatus, 0);
        EXPECT_NE(serials.err.find("refused this station's connection ("), std::string::npos) << serials.err;
        EXPECT_NE(serials.err.find(refusal.said), std::string::npos) << serials.err;
        EXPECT_EQ(serials.err.find("-pw"), std::string::npos) << serials.err;
    }
}

// A role that may only write the runs (another role laid the server out) has
// its rows counted where the counts' owner keeps them, whatever tables it made
// among its session's own under the counts' names: were those counted, their
// triggers would run the writer's code with the owner's rights.
TEST_F(PostgresHistoryTest, ARoleThatMayOnlyWriteTheRunsHasThemCountedInTheOwnersCounts) {
    ASSERT_EQ(runCli({"--history", server_.uri(), "history"}).exitStatus, 0);  // laid out by the superuser
    ASSERT_TRUE(server_.addPasswordRole("writer", "w-pw"));
    server_.query(
        "GRANT INSERT, UPDATE, SELECT ON velmora_runs TO writer; GRANT SELECT ON velmora_layout TO writer;");
    pg_conn* writer = PQconnectdb(server_.roleUri("writer", "w-pw").c_str());
    ASSERT_EQ(PQstatus(writer), CONNECTION_OK) << PQerrorMessage(writer);
    const auto run = [writer](const char* sql) {
        return history::PostgresResult(PQexec(writer, sql)).rows();
    };
    run("CREATE TEMP TABLE velmora_report_units (unit_id text, origin text, runs bigint, first_run text,"
        " first_result text, PRIMARY KEY (unit_id, origin));"
        "INSERT INTO velmora_runs (run_uuid, operation, started, unit_id) VALUES"
        " (gen_random_uuid(), 'station', '2026-12-01T00:00:00.000Z', 'LBL-1');");
    EXPECT_EQ(run("SELECT * FROM pg_temp.velmora_report_units;"), 0);
    PQfinish(writer);
    history::PostgresHistory line(server_.roleUri("writer", "w-pw"));
    history::HistoryRecord sent;
    sent.operation = "station";
    sent.started = "2026-12-01T01:00:00.000Z";
    sent.unitId = "LBL-2";
    std::string error;
    ASSERT_TRUE(line.record(sent, error)) << error;
    EXPECT_EQ(server_.query("SELECT unit_id, runs FROM velmora_report_units ORDER BY 1;"),
              "LBL-1|1\nLBL-2|1\n");
}

// Another's transaction holding the report's counts (two stations' rows that
// met on a unit, a deadlock the server ended) is no row's fault: the rows wait
// on the station, none set aside, and go once it has ended.
TEST_F(PostgresHistoryTest, RowsThatMeetAnothersLockOnTheCountsAreNotSetAside) {
    std::string error;
    history::HistoryRecord run;
    run.operation = "station";
    run.started = isoUtc(wallNow());
    run.unitId = "LBL-1";
    const auto file = stationFileWith(run);
    ASSERT_TRUE(file && run.id != 0);
    history::PostgresHistory line(server_.uri());
    ASSERT_TRUE(line.use([](pg_conn*, std::string&) { return true; }, error)) << error;  // lays it out
    pg_conn* holder = PQconnectdb(server_.uri().c_str());
    ASSERT_EQ(PQstatus(holder), CONNECTION_OK) << PQerrorMessage(holder);
    history::PostgresResult(PQexec(holder, "BEGIN; LOCK TABLE velmora_report_units IN EXCLUSIVE MODE;"));
    history::RefusedRows refused;
    EXPECT_FALSE(history::sendWaitingRows(file->database(), line, true, error, 0, &refused));
    EXPECT_TRUE(refused.runs.empty()) << refused.reason;
    history::PostgresResult(PQexec(holder, "COMMIT;"));
    PQfinish(holder);
    EXPECT_EQ(history::sendWaitingRows(file->database(), line, true, error, 0, &refused), 1u) << error;
    EXPECT_EQ(server_.query("SELECT runs FROM velmora_report_units;"), "1\n");
}

}  // namespace
}  // namespace velmora::testing
