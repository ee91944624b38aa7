// velmora-cli --record and --replay, run as child processes: a run replayed from
// its recording, with no hub and no --simulate, prints what the run printed.
#include <gtest/gtest.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <regex>

#include "app/Hex.h"
#include "device/recording/RecordingFile.h"
#include "tests/cli/CliFixture.h"
#include "tests/recording/UsbmonCapture.h"

namespace velmora::testing {
namespace {

std::string sha256Of(const std::vector<char>& bytes) {
    sha256_ctx context{};
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return hexBytes(digest, HexCase::Lower);
}

class RecordingCliTest : public CliFixture {
protected:
    CliRun record(const std::string& scenario, const std::string& file, std::vector<std::string> command) {
        command.insert(command.begin(), {"--trace", "--record", path(file)});
        return simulated(scenario, command);
    }
    CliRun replay(const std::string& file, std::vector<std::string> command) {
        command.insert(command.begin(), {"--config", config(), "--trace", "--replay", path(file)});
        return runCli(command);
    }
};

TEST_F(RecordingCliTest, AReplayPrintsWhatTheRecordedRunPrinted) {
    // A success, failures of each step, a hub that cannot be opened, and no hub at all.
    for (const std::string scenario :
         {"flash-code", "stall-erase", "corrupt-readback", "disconnect", "busy", "no-hub", "never-returns"}) {
        SCOPED_TRACE(scenario);
        const CliRun recorded = record(scenario, scenario + ".jsonl", {"update", path("fw.bin")});
        const CliRun replayed = replay(scenario + ".jsonl", {"update", path("fw.bin")});
        EXPECT_EQ(replayed.exitStatus, recorded.exitStatus);
        const bool sendsRequests = scenario != "no-hub" && scenario != "busy";
        EXPECT_EQ(recorded.err.find("ctrl ") != std::string::npos, sendsRequests);
        EXPECT_EQ(replayed.out, recorded.out);
        EXPECT_EQ(replayed.err, recorded.err);  // the trace: every request and its status
    }
    const CliRun recorded = record("flash-code", "read.jsonl", {"read", path("out.bin")});
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.err;
    const std::vector<char> firstRead = read(path("out.bin"));
    const CliRun replayed = replay("read.jsonl", {"read", path("again.bin")});
    EXPECT_EQ(replayed.exitStatus, 0) << replayed.err;
    EXPECT_EQ(read(path("again.bin")), firstRead);
    // In real time each exchange takes what it took when recorded; the replay ends the same.
    const CliRun detected = record("flash-code", "detect.jsonl", {"detect"});
    const CliRun realTime = replay("detect.jsonl", {"--replay-real-time", "detect"});
    EXPECT_EQ(realTime.exitStatus, detected.exitStatus);
    EXPECT_EQ(realTime.out, detected.out);
}

TEST_F(RecordingCliTest, TheRecordingNamesTheProgramTheCommandTheTableAndTheImage) {
    ASSERT_EQ(record("flash-code", "run.jsonl", {"update", path("fw.bin")}).exitStatus, 0);
    std::ifstream file(path("run.jsonl"));
    std::string header;
    std::getline(file, header);
    EXPECT_NE(header.find("\"format\":1"), std::string::npos) << header;
    EXPECT_NE(header.find("\"program\":\"velmora-cli "), std::string::npos) << header;
    EXPECT_NE(header.find("\"update\""), std::string::npos) << header;
    EXPECT_NE(header.find("{\"vid\":\"2FE3\",\"sspid\":\"0611\",\"hspid\":\"0610\"}"), std::string::npos)
        << header;
    // The image named, with its SHA-256 worked out here apart from the program.
    recording::Recording recording;
    std::string error;
    ASSERT_TRUE(recording::readRecording(path("run.jsonl"), recording, error)) << error;
    ASSERT_EQ(recording.header.images.size(), 1U);
    EXPECT_EQ(recording.header.images[0].path, path("fw.bin"));
    EXPECT_EQ(recording.header.images[0].sha256, sha256Of(read(path("fw.bin"))));
}

TEST_F(RecordingCliTest, AReplayThatDivergesEndsWithOneLineNamingTheExchange) {
    ASSERT_EQ(record("flash-code", "run.jsonl", {"update", path("fw.bin")}).exitStatus, 0);
    const std::regex line(
        "velmora-cli: Replay diverged at exchange [0-9]+: recorded ctrl ([0-9A-F]{2} ){8}on 1-1, "
        "sent ctrl ([0-9A-F]{2} ){8}on 1-1");
    // Another command than the one recorded; and the recorded one without the
    // backup the recorded run made first, whose reads the recording holds.
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"read", path("out.bin")}, {"--no-backup", "update", path("fw.bin")}}) {
        SCOPED_TRACE(command.front());
        const CliRun replayed = replay("run.jsonl", command);
        EXPECT_EQ(replayed.exitStatus, 1);
        const std::vector<std::string> errors = lines(replayed.err);
        ASSERT_FALSE(errors.empty());
        EXPECT_TRUE(std::regex_match(errors.back(), line)) << errors.back();
        EXPECT_EQ(std::count_if(errors.begin(), errors.end(),
                                [](const std::string& error) {
                                    return error.find("Replay diverged") != std::string::npos;
                                }),
                  1)
            << replayed.err;
    }
}

// A recording's port names are a file's words: ESC, BEL and a line break in one
// must neither reach the terminal nor forge a line, in the list or the line a
// diverged replay ends with.
TEST_F(RecordingCliTest, HostilePortNamesInARecordingArePrintedHarmlessly) {
    ASSERT_EQ(record("flash-code", "run.jsonl", {"list"}).exitStatus, 0);
    makePortNamesHostile(path("run.jsonl"));
    for (const std::vector<std::string>& command :
         std::vector<std::vector<std::string>>{{"list"}, {"read", path("out.bin")}}) {
        SCOPED_TRACE(command.front());
        const CliRun replayed = replay("run.jsonl", command);
        expectShownHarmlessly(replayed.out + replayed.err);
    }
}

// A run killed while recording leaves every whole line good: its replay goes as
// recorded up to the cut, then fails with exit 1 and the line saying the
// recording holds nothing more, though detect itself reports a hub it could not
// read without failing.
TEST_F(RecordingCliTest, AKilledRecordingReplaysUpToWhereItStopped) {
    const CliRun recorded = record("flash-code", "run.jsonl", {"detect"});
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.err;
    std::ifstream in(path("run.jsonl"));
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::size_t lastTransfer = text.rfind("\"e\":\"ctrl\"");
    ASSERT_NE(lastTransfer, std::string::npos) << text;
    std::ofstream(path("run.jsonl"), std::ios::trunc) << text.substr(0, lastTransfer + 20);

    const CliRun replayed = replay("run.jsonl", {"detect"});
    EXPECT_EQ(replayed.exitStatus, 1);
    const std::vector<std::string> recordedTrace = lines(recorded.err);
    const std::vector<std::string> replayedTrace = lines(replayed.err);
    ASSERT_GE(recordedTrace.size(), 2u);
    ASSERT_GE(replayedTrace.size(), recordedTrace.size());
    // Every transfer but the last went as recorded.
    EXPECT_EQ(
        std::vector<std::string>(replayedTrace.begin(), replayedTrace.begin() + recordedTrace.size() - 1),
        std::vector<std::string>(recordedTrace.begin(), recordedTrace.end() - 1));
    EXPECT_NE(replayedTrace.back().find("the recording holds nothing more, sent ctrl C0 "), std::string::npos)
        << replayed.err;
}

// A replay records nowhere: the history a run was recorded in gains no row from
// its replays, and the flash a replay reads for its backup (as the recorded run
// did) is not kept.
TEST_F(RecordingCliTest, AReplayLeavesNoHistoryRowAndNoBackup) {
    const std::string history = path("history.sqlite");
    const std::vector<std::string> state{"XDG_STATE_HOME=" + path("state")};
    std::filesystem::create_directory(path("state"));
    const auto kept = [this] {
        std::vector<std::string> names;
        for (const auto& item : std::filesystem::recursive_directory_iterator(path("state")))
            names.push_back(item.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const CliRun recorded = runCli({"--config", config(), "--simulate=flash-code", "--record",
                                    path("run.jsonl"), "--history", history, "update", path("fw.bin")},
                                   state);
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.err;
    const std::vector<std::string> backups = kept();
    ASSERT_FALSE(backups.empty());  // the recorded run kept the hub's flash

    const CliRun replayed = runCli(
        {"--config", config(), "--replay", path("run.jsonl"), "--history", history, "update", path("fw.bin")},
        state);
    EXPECT_EQ(replayed.exitStatus, 0) << replayed.err;
    EXPECT_EQ(replayed.out, recorded.out);
    EXPECT_EQ(kept(), backups);
    const CliRun listed = runCli({"--history", history, "history"});
    EXPECT_EQ(listed.exitStatus, 0) << listed.err;
    EXPECT_EQ(lines(listed.out).size(), 1u) << listed.out;  // the recorded run's row alone
}

// The recording's first line holds the command line, and the file goes with
// bug reports: a server URI's password is not in it, in any form.
TEST_F(RecordingCliTest, TheHeadersCommandLineHoldsNoPassword) {
    int index = 0;
    for (const std::string uri : {"postgresql://line:Pa?ss#w0rd@/velmora?host=/nonexistent",
                                  "POSTGRESQL://line@/velmora?host=/nonexistent&pass%77ord=Pa?ss#w0rd"}) {
        const std::string file = "run-" + std::to_string(++index) + ".jsonl";
        const CliRun recorded = record("flash-code", file, {"--history=" + uri, "detect"});
        ASSERT_EQ(recorded.exitStatus, 0) << recorded.err;
        const std::vector<char> bytes = read(path(file));
        const std::string text(bytes.begin(), bytes.end());
        const std::string header = text.substr(0, text.find('\n'));
        EXPECT_NE(header.find("line@/velmora"), std::string::npos) << header;
        EXPECT_EQ(header.find("Pa?ss#w0rd"), std::string::npos) << header;
    }
}

// A replayed station records nowhere either: it takes no serial numbers from
// any counter.
TEST_F(RecordingCliTest, AReplayedStationTakesNoSerialNumbers) {
    const std::vector<std::string> station = {"station", path("fw.bin"),    "--count",
                                              "1",       "--serial-digits", "4"};
    std::vector<std::string> recording = {"--config",
                                          config(),
                                          "--simulate=flash-code",
                                          "--record",
                                          path("station.jsonl"),
                                          "--history",
                                          path("recorded.sqlite")};
    recording.insert(recording.end(), station.begin(), station.end());
    const CliRun recorded = runCli(recording);
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.err;

    std::vector<std::string> replaying = {
        "--config", config(), "--replay", path("station.jsonl"), "--history", path("replayed.sqlite")};
    replaying.insert(replaying.end(), station.begin(), station.end());
    const CliRun replayed = runCli(replaying);
    EXPECT_EQ(replayed.exitStatus, 0) << replayed.err;
    EXPECT_EQ(replayed.out, recorded.out);
    EXPECT_FALSE(std::filesystem::exists(path("replayed.sqlite")));
}

TEST_F(RecordingCliTest, UnusableRecordingsAndOptionsAreRefused) {
    std::ofstream(path("newer.jsonl")) << "{\"recording\":\"velmora\",\"format\":99}\n";
    CliRun run = replay("newer.jsonl", {"update", path("fw.bin")});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("newer"), std::string::npos) << run.err;

    run = replay("missing.jsonl", {"update", path("fw.bin")});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("--replay"), std::string::npos) << run.err;

    run = runCli({"--simulate", "--replay", path("newer.jsonl"), "detect"});
    EXPECT_EQ(run.exitStatus, 2);
    run = runCli({"--replay-real-time", "detect"});
    EXPECT_EQ(run.exitStatus, 2);
    run = simulated("flash-code", {"--record", path("no-such-folder/run.jsonl"), "update", path("fw.bin")});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("--record"), std::string::npos) << run.err;
}

TEST_F(RecordingCliTest, AnImportedCaptureOfAnUpdateReplaysIt) {
    if (!recording::canReadCaptures()) GTEST_SKIP() << "built without libpcap";
    const CliRun recorded = record("flash-code", "run.jsonl", {"update", path("fw.bin")});
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.err;
    recording::Recording original;
    std::string error;
    ASSERT_TRUE(recording::readRecording(path("run.jsonl"), original, error)) << error;
    const std::string capture = recording::writePcap(scratch_, recording::captureOf(original));

    CliRun run = runCli({"--config", config(), "recording", "import", capture, path("imported.jsonl")});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("transfers imported"), std::string::npos) << run.out;
    const CliRun replayed = replay("imported.jsonl", {"update", path("fw.bin")});
    EXPECT_EQ(replayed.exitStatus, 0);
    EXPECT_EQ(replayed.out, recorded.out);
    EXPECT_EQ(replayed.err, recorded.err);

    run = runCli({"--config", config(), "recording", "import", path("fw.bin"), path("x.jsonl")});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("recording import"), std::string::npos) << run.err;

    // The capture named as the output too is refused, not written over.
    const std::vector<char> kept = read(capture);
    const std::filesystem::path capturePath(capture);
    run = runCli({"--config", config(), "recording", "import", capture,
                  (capturePath.parent_path() / "." / capturePath.filename()).string()});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("is a file this run reads or writes"), std::string::npos) << run.err;
    EXPECT_EQ(read(capture), kept);
}

// A recording named like a file the run reads or writes would destroy it.
TEST_F(RecordingCliTest, ARecordingNeverTakesTheNameOfAFileTheCommandNames) {
    const std::vector<char> image = read(path("fw.bin"));
    CliRun run = simulated("flash-code", {"--record", path("fw.bin"), "update", path("fw.bin")});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("record into a file of its own"), std::string::npos) << run.err;
    EXPECT_EQ(read(path("fw.bin")), image);

    run = simulated("flash-code", {"--record", path("flash.bin"), "read", path("flash.bin")});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_FALSE(std::filesystem::exists(path("flash.bin")));

    // Nor the run's configuration or history.
    const std::vector<char> config = read(this->config());
    run = simulated("flash-code", {"--record", this->config(), "detect"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(read(this->config()), config);
    ASSERT_EQ(simulated("flash-code", {"--history", path("history.sqlite"), "detect"}).exitStatus, 0);
    const std::vector<char> history = read(path("history.sqlite"));
    run = simulated("flash-code",
                    {"--history", path("history.sqlite"), "--record", path("history.sqlite"), "detect"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(read(path("history.sqlite")), history);
}

}  // namespace
}  // namespace velmora::testing
