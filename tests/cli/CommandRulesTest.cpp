// Every command against every rule that it could break, as one table: several
// hubs without --port, the admission of the bytes it writes, each kind of output
// file, success only once the hub runs its flash code, text from outside made
// printable. The table is checked against the commands the command line knows, so
// a new command without its rows fails here. A row without arguments is a slot:
// a rule no run from the command line can reach, named for why.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "cli/CliApplication.h"
#include "tests/cli/CliFixture.h"
#include "tests/recording/UsbmonCapture.h"
#include "tests/support/HubRig.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

enum class Rule { SeveralHubs, BytesAdmitted, OutputFile, SuccessInFlashCode, RawText };

std::string ruleName(Rule rule) {
    switch (rule) {
        case Rule::SeveralHubs: return "SeveralHubs";
        case Rule::BytesAdmitted: return "BytesAdmitted";
        case Rule::OutputFile: return "OutputFile";
        case Rule::SuccessInFlashCode: return "SuccessInFlashCode";
        case Rule::RawText: return "RawText";
    }
    return "?";
}

// What each command must be held to. A command the command line knows that is
// neither here nor in kOutsideTheGate fails CommandRulesTable.EveryCommandHasItsRows.
const std::map<std::string, std::set<Rule>> kRulesOf = {
    {"detect", {Rule::SeveralHubs, Rule::OutputFile, Rule::RawText}},
    {"list", {Rule::OutputFile, Rule::RawText}},
    {"update", {Rule::SeveralHubs, Rule::BytesAdmitted, Rule::OutputFile, Rule::SuccessInFlashCode}},
    {"scalar", {Rule::SeveralHubs, Rule::BytesAdmitted, Rule::OutputFile, Rule::SuccessInFlashCode}},
    {"erase", {Rule::SeveralHubs, Rule::OutputFile}},
    {"read", {Rule::SeveralHubs, Rule::OutputFile}},
    {"verify", {Rule::SeveralHubs, Rule::OutputFile}},
    {"restore", {Rule::SeveralHubs, Rule::BytesAdmitted, Rule::OutputFile, Rule::SuccessInFlashCode}},
    {"recover", {Rule::BytesAdmitted, Rule::OutputFile, Rule::SuccessInFlashCode}},
    {"station", {Rule::BytesAdmitted, Rule::OutputFile, Rule::SuccessInFlashCode}},
    {"recording", {Rule::OutputFile, Rule::RawText}},
    {"image", {Rule::OutputFile}},
    {"backups", {Rule::RawText}},
};

const std::map<std::string, std::string> kOutsideTheGate = {
    {"driver", "loads and unloads the module; its reset of a hub is the module's, not a run's"},
    {"doctor", "only looks: opens nothing for writing and writes no file"},
    {"history", "reads the record; its texts are made printable by the history's own tests"},
};

class CommandRules;
using Arguments = std::function<std::vector<std::string>(CommandRules&)>;
using Target = std::function<std::string(CommandRules&)>;
using Check = std::function<void(const CliRun&)>;

struct Row {
    std::string command;
    Rule rule;
    std::string what;                     // for the test's name
    Arguments arguments;                  // none: a slot, a rule no run can reach
    Target target = {};                   // OutputFile: the file that must stay as it was
    std::string scenario = "flash-code";  // empty: the arguments replay a recording
    Check check = {};                     // none: refused before any hub is touched
};

class CommandRules : public CliFixture, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        write("one-byte.bin", {'x'});
        // One kept backup and a history with its companions, as a real bench has.
        ASSERT_EQ(run({"erase"}).exitStatus, 0);
        for (const char* companion : {"-wal", "-shm", "-journal"}) write(historyName(companion), {'c'});
    }

public:
    CliRun run(std::vector<std::string> arguments, const std::string& scenario = "flash-code") {
        if (!scenario.empty()) arguments.insert(arguments.begin(), "--simulate=" + scenario);
        arguments.insert(arguments.begin(), {"--config", config()});
        return runCli(arguments, {"XDG_STATE_HOME=" + state()});
    }
    std::string state() const { return path("state"); }
    std::string store() const { return state() + "/velmora/backups"; }
    std::string history() const { return state() + "/velmora/history.sqlite"; }
    std::string historyName(const std::string& companion) const {
        return "state/velmora/history.sqlite" + companion;
    }
    // The first file of the store whose name passes keep.
    std::string kept(const std::function<bool(const std::string&)>& keep) const {
        for (const auto& entry : fs::directory_iterator(store()))
            if (keep(entry.path().filename().string())) return entry.path().string();
        return {};
    }
    std::string keptContent() const {
        return kept([](const std::string& name) { return name.size() == 64; });
    }
    std::string keptIndex() const {
        return kept([](const std::string& name) { return name.ends_with(".entry"); });
    }
    std::string theirs() {
        const std::string file = write("theirs.out", {'t'});
        ::chown(file.c_str(), 65534, 65534);
        ::chmod(file.c_str(), 0666);
        return file;
    }
    std::string linkToHistory() {
        fs::create_symlink(history(), path("link.out"));
        return path("link.out");
    }
    std::string fifo() {
        ::mkfifo(path("capture.fifo").c_str(), 0600);
        return path("capture.fifo");
    }
    std::string image() const { return path("fw.bin"); }
    // An image of these hubs whose block their boot code does not find.
    std::string offPageImage(const std::string& name = "off-page.bin") {
        const std::vector<std::uint8_t> bytes = tenThousandByteImage();
        return write(name, {bytes.begin(), bytes.end()});
    }
    // A recording of command whose port names hold ESC, BEL and a forged line.
    std::string hostileRecording(const std::string& command, const std::string& scenario) {
        const std::string file = path(command + ".jsonl");
        EXPECT_EQ(run({"--record", file, command}, scenario).exitStatus, 0);
        makePortNamesHostile(file);
        return file;
    }
    // A capture whose file name holds the same.
    std::string hostileCapture() {
        const std::string file = path("\x1b[2J\x07\nFAKE: Update FW Success.pcap");
        fs::rename(capture(), file);
        return file;
    }
    // A capture a recording import reads whole: a detect's exchanges.
    std::string capture() {
        run({"--record", path("seed.jsonl"), "detect"});
        recording::Recording recorded;
        std::string error;
        EXPECT_TRUE(recording::readRecording(path("seed.jsonl"), recorded, error)) << error;
        return recording::writePcap(scratch_, recording::captureOf(recorded));
    }

    using CliFixture::config;
    using CliFixture::giveBackupsAHostileSerial;
    using CliFixture::path;
    using CliFixture::read;
    using CliFixture::write;
};

// What a file holds, or that it is not there.
std::optional<std::vector<char>> snapshot(CommandRules& fixture, const std::string& file) {
    if (!fs::exists(fs::symlink_status(file))) return std::nullopt;
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return std::vector<char>{};
    return fixture.read(file);
}

// A rule the command holds that no run from the command line can reach; why, as its name.
Row slot(std::string command, Rule rule, std::string why) {
    return {std::move(command), rule, "Slot" + std::move(why), {}};
}

Row output(std::string command, std::string what, Arguments arguments, Target target) {
    return {std::move(command), Rule::OutputFile, std::move(what), std::move(arguments), std::move(target)};
}

Row checked(std::string command, Rule rule, std::string what, std::string scenario, Arguments arguments,
            Check check) {
    return {std::move(command), rule, std::move(what), std::move(arguments), {}, std::move(scenario),
            std::move(check)};
}

// Written whole and verified, the image leaves the hub in its ROM code: the run
// failed, and says what the hub runs.
void cameBackInRomCode(const CliRun& result) {
    EXPECT_EQ(result.exitStatus, 1) << result.err;
    for (const char* part : {"Fail to start the firmware written: the hub came back running its ROM code (",
                             "), not flash code version 0203"})
        EXPECT_NE(result.out.find(part), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Success"), std::string::npos) << result.out;
}

// The hostile text reached the output, and only as printed.
Check shownHarmlessly(std::string printed) {
    return [printed](const CliRun& result) {
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_NE(result.out.find(printed), std::string::npos) << result.out;
        expectShownHarmlessly(result.out + result.err);
    };
}

Row refused(std::string command, Rule rule, std::string what, Arguments arguments,
            std::string scenario = "flash-code") {
    return {std::move(command), rule, std::move(what), std::move(arguments), {}, std::move(scenario)};
}

std::vector<Row> rows() {
    using R = CommandRules;
    const auto record = [](Target target, std::vector<std::string> words) -> Arguments {
        return [target, words](R& f) {
            std::vector<std::string> all{"--record", target(f)};
            for (const std::string& word : words) all.push_back(word == "IMAGE" ? f.image() : word);
            return all;
        };
    };
    const auto readInto = [](Target target) -> Arguments {
        return [target](R& f) { return std::vector<std::string>{"read", target(f)}; };
    };
    const Target config = [](R& f) { return f.config(); };
    const Target fwbin = [](R& f) { return f.image(); };
    const Target history = [](R& f) { return f.history(); };
    const auto companion = [](std::string suffix) -> Target {
        return [suffix](R& f) { return f.path(f.historyName(suffix)); };
    };
    const Target content = [](R& f) { return f.keptContent(); };
    const Target index = [](R& f) { return f.keptIndex(); };
    const Target theirs = [](R& f) { return f.theirs(); };
    const Target link = [](R& f) { return f.linkToHistory(); };
    const Target recording = [](R& f) { return f.path("run.jsonl"); };
    const Target verifyInput = [](R& f) { return f.path("fw.bin"); };
    const auto oneByte = [](std::vector<std::string> words) -> Arguments {
        return [words](R& f) {
            std::vector<std::string> all;
            for (const std::string& word : words)
                all.push_back(word == "TINY" ? f.path("one-byte.bin") : word);
            return all;
        };
    };
    const auto words = [](std::vector<std::string> words) -> Arguments {
        return [words](R&) { return words; };
    };
    return {
        // Several hubs attached and none named: the bus's order chooses nothing, and
        // detect shows each.
        checked("detect", Rule::SeveralHubs, "ListsEach", "two-hubs", words({"detect"}),
                [](const CliRun& result) {
                    EXPECT_EQ(result.exitStatus, 0) << result.err;
                    for (const char* port : {"1-1", "1-2"})
                        EXPECT_NE(result.out.find(port), std::string::npos) << result.out;
                }),
        refused(
            "update", Rule::SeveralHubs, "TwoHubs",
            [](R& f) {
                return std::vector<std::string>{"update", f.image()};
            },
            "two-hubs"),
        refused("scalar", Rule::SeveralHubs, "TwoHubs", words({"scalar"}), "two-hubs"),
        refused("erase", Rule::SeveralHubs, "TwoHubs", words({"erase"}), "two-hubs"),
        refused("read", Rule::SeveralHubs, "TwoHubs", words({"read", "-"}), "two-hubs"),
        refused(
            "verify", Rule::SeveralHubs, "TwoHubs",
            [](R& f) {
                return std::vector<std::string>{"verify", f.image()};
            },
            "two-hubs"),
        refused(
            "restore", Rule::SeveralHubs, "TwoHubs",
            [](R& f) {
                return std::vector<std::string>{"restore", "--yes", f.keptContent()};
            },
            "two-hubs"),

        // The bytes written pass the image admission before any hub is touched.
        refused("update", Rule::BytesAdmitted, "OneByteImage", oneByte({"update", "TINY"})),
        refused("station", Rule::BytesAdmitted, "OneByteImage", oneByte({"station", "TINY", "--count", "1"})),
        refused("scalar", Rule::BytesAdmitted, "OneByteFwBin",
                [](R& f) {
                    f.write("fw.bin", {'x'});
                    return std::vector<std::string>{"scalar"};
                }),
        refused("restore", Rule::BytesAdmitted, "OneByteFile",
                oneByte({"restore", "TINY", "--yes", "--blank"})),
        checked(
            "recover", Rule::BytesAdmitted, "BlankBackup", "rom-code",
            [](R& f) {
                // An image the hub does not boot, over a blank flash: the backup is blank.
                EXPECT_EQ(f.run({"update", f.offPageImage()}, "rom-code").exitStatus, 1);
                return std::vector<std::string>{"recover", "--yes"};
            },
            [](const CliRun& result) {
                EXPECT_EQ(result.exitStatus, 1);
                EXPECT_NE(result.err.find("blank flash"), std::string::npos) << result.err;
                EXPECT_EQ(result.out.find("Erase Flash"), std::string::npos) << result.out;
            }),

        // No output is a file the run depends on.
        output("read", "Configuration", readInto(config), config),
        output("read", "FwBin", readInto(fwbin), fwbin),
        output("read", "History", readInto(history), history),
        output("read", "HistoryWal", readInto(companion("-wal")), companion("-wal")),
        output("read", "HistoryShm", readInto(companion("-shm")), companion("-shm")),
        output("read", "HistoryJournal", readInto(companion("-journal")), companion("-journal")),
        output("read", "BackupContent", readInto(content), content),
        output("read", "BackupIndex", readInto(index), index),
        output(
            "read", "Recording",
            [](R& f) {
                return std::vector<std::string>{"--record", f.path("run.jsonl"), "read", f.path("run.jsonl")};
            },
            recording),
        output("read", "LinkToHistory", readInto(link), history),
        output("read", "AnotherUsersFile", readInto(theirs), [](R& f) { return f.path("theirs.out"); }),
        output("detect", "RecordOverHistoryWal", record(companion("-wal"), {"detect"}), companion("-wal")),
        output("detect", "RecordOverAnotherUsersFile", record(theirs, {"detect"}),
               [](R& f) { return f.path("theirs.out"); }),
        output("list", "RecordOverBackupIndex", record(index, {"list"}), index),
        output("update", "RecordOverItsImage", record(fwbin, {"update", "IMAGE"}), fwbin),
        output("scalar", "RecordOverFwBin", record(fwbin, {"scalar"}), fwbin),
        output("erase", "RecordOverBackupContent", record(content, {"erase"}), content),
        output("verify", "RecordOverItsFile", record(verifyInput, {"verify", "IMAGE"}), verifyInput),
        output("restore", "RecordOverItsBackup", record(content, {"restore", "--yes", "--last"}), content),
        output("recover", "RecordOverHistoryJournal", record(companion("-journal"), {"recover"}),
               companion("-journal")),
        output("station", "RecordOverHistory", record(history, {"station", "IMAGE", "--count", "1"}),
               history),
        output(
            "station", "MetricsFileOverHistoryWal",
            [](R& f) {
                return std::vector<std::string>{"station", f.image(),        "--count",
                                                "1",       "--metrics-file", f.path(f.historyName("-wal"))};
            },
            companion("-wal")),
        output(
            "recording", "ImportOverConfiguration",
            [](R& f) {
                return std::vector<std::string>{"recording", "import", f.capture(), f.config()};
            },
            config),
        output(
            "recording", "ImportOverHistory",
            [](R& f) {
                return std::vector<std::string>{"recording", "import", f.capture(), f.history()};
            },
            history),
        output(
            "recording", "ImportOverAnotherUsersFile",
            [](R& f) {
                return std::vector<std::string>{"recording", "import", f.capture(), f.theirs()};
            },
            [](R& f) { return f.path("theirs.out"); }),
        output(
            "recording", "ImportFromAFifo",
            [](R& f) {
                return std::vector<std::string>{"recording", "import", f.fifo(), f.path("out.jsonl")};
            },
            [](R& f) { return f.path("out.jsonl"); }),
        output(
            "image", "EditOverHistory",
            [](R& f) {
                return std::vector<std::string>{"image",     "edit",  f.image(), "-o",
                                                f.history(), "--vid", "1A2B"};
            },
            history),
        output(
            "image", "EditOverBackupContent",
            [](R& f) {
                return std::vector<std::string>{"image",         "edit",  f.image(), "-o",
                                                f.keptContent(), "--vid", "1A2B"};
            },
            content),

        // Success only when the hub runs what the bytes make it run.
        checked(
            "update", Rule::SuccessInFlashCode, "ImageLeftInRomCode", "flash-code",
            [](R& f) {
                return std::vector<std::string>{"update", f.offPageImage()};
            },
            cameBackInRomCode),
        checked(
            "scalar", Rule::SuccessInFlashCode, "FwBinLeftInRomCode", "flash-code",
            [](R& f) {
                f.offPageImage("fw.bin");
                return std::vector<std::string>{"scalar"};
            },
            cameBackInRomCode),
        checked(
            "restore", Rule::SuccessInFlashCode, "FileLeftInRomCode", "flash-code",
            [](R& f) {
                return std::vector<std::string>{"restore", f.offPageImage(), "--yes"};
            },
            cameBackInRomCode),
        // recover writes only a backup a simulated hub kept: the sample image,
        // which boots with its version, or a blank flash, refused above.
        slot("recover", Rule::SuccessInFlashCode, "EveryBackupASimulatedHubKeepsBootsOrIsBlank"),
        checked(
            "station", Rule::SuccessInFlashCode, "ImageLeftInRomCode", "flash-code",
            [](R& f) {
                return std::vector<std::string>{"station", f.offPageImage(), "--count", "1"};
            },
            cameBackInRomCode),

        // Text from a hub or a recording is made printable before it is shown.
        checked(
            "detect", Rule::RawText, "RecordedPortName", "",
            [](R& f) {
                return std::vector<std::string>{"--replay", f.hostileRecording("detect", "two-hubs"),
                                                "detect"};
            },
            shownHarmlessly("1-1?[2J??FAKE: Update FW Success  2FE3:0611")),
        checked(
            "list", Rule::RawText, "RecordedPortName", "",
            [](R& f) {
                return std::vector<std::string>{"--replay", f.hostileRecording("list", "flash-code"), "list"};
            },
            shownHarmlessly("1-1?[2J??FAKE: Update FW Success  2FE3:0611")),
        checked(
            "recording", Rule::RawText, "CaptureName", "flash-code",
            [](R& f) {
                return std::vector<std::string>{"recording", "import", f.hostileCapture(),
                                                f.path("out.jsonl")};
            },
            shownHarmlessly("?[2J??FAKE: Update FW Success.pcap\n")),
        checked(
            "backups", Rule::RawText, "HubSerial", "flash-code",
            [](R& f) {
                EXPECT_EQ(f.giveBackupsAHostileSerial(f.store()), 1u);
                return std::vector<std::string>{"backups"};
            },
            shownHarmlessly("  ?2J?]0;x?")),
    };
}

TEST_P(CommandRules, IsHeld) {
    const Row& row = GetParam();
    if (!row.arguments)
        GTEST_SKIP() << row.command << " x " << ruleName(row.rule) << ": not reachable from the command line";
    if (row.what.find("AnotherUser") != std::string::npos && ::geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::vector<std::string> arguments = row.arguments(*this);
    const std::string target = row.target ? row.target(*this) : std::string{};
    const auto before = target.empty() ? std::nullopt : snapshot(*this, target);
    const CliRun result = run(arguments, row.scenario);
    if (row.check) return row.check(result);
    // 2 for a refusal; a scalar image that is none ends as the window's does,
    // "Wrong firmware file", before the hub is opened.
    EXPECT_EQ(result.exitStatus, row.what == "OneByteFwBin" ? 1 : 2) << result.err;
    // Refused before any hub was touched.
    EXPECT_EQ(result.out.find("Erase Flash"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Open"), std::string::npos) << result.out;
    if (!target.empty()) {
        EXPECT_EQ(snapshot(*this, target), before) << target;
    }
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    return info.param.command + "_" + ruleName(info.param.rule) + "_" + info.param.what;
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandRules, ::testing::ValuesIn(rows()), rowName);

TEST(CommandRulesTable, EveryCommandHasItsRows) {
    for (const std::string& name : cli::commandNames()) {
        const bool outside = kOutsideTheGate.count(name) != 0;
        ASSERT_TRUE(outside || kRulesOf.count(name) != 0) << name << " has no rows: add them to this table";
        if (outside) continue;
        for (const Rule rule : kRulesOf.at(name)) {
            const std::vector<Row> all = rows();
            EXPECT_TRUE(std::any_of(all.begin(), all.end(),
                                    [&](const Row& row) { return row.command == name && row.rule == rule; }))
                << name << " has no row for " << ruleName(rule);
        }
    }
}

}  // namespace
}  // namespace velmora::testing
