// The command line's side of the backups: every erase keeps the flash first
// (unless --no-backup), backups lists them, restore writes one back only when
// confirmed and only while it still matches its name, verify compares without
// writing, and recover finds nothing to do where nothing was left in ROM code.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "backups/BackupStore.h"
#include "tests/cli/CliFixture.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

class CliBackupTest : public CliFixture {
protected:
    // A hub command with a state folder of this test's own.
    CliRun withState(const std::string& scenario, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--config", config(), "--simulate=" + scenario});
        return runCli(arguments, {"XDG_STATE_HOME=" + state_.path().string()});
    }

    std::size_t readRequests(const std::string& trace) const {
        std::size_t reads = 0;
        for (const std::string& line : lines(trace)) {
            if (line.rfind("ctrl C0 ", 0) == 0 && line.find(" 00 10 -> ") != std::string::npos) ++reads;
        }
        return reads;
    }

    fs::path backups() const { return state_.path() / "velmora" / "backups"; }

    ScratchFolder state_{"velmora-cli-backups"};
};

TEST_F(CliBackupTest, UpdateKeepsTheFlashUnlessToldNotTo) {
    const CliRun kept = withState("flash-code", {"--trace", "update", kSampleImage});
    ASSERT_EQ(kept.exitStatus, 0) << kept.err;
    // Two reads of the whole flash before the erase, then the read-back.
    EXPECT_EQ(readRequests(kept.err), 8u + 8u + 8u);
    const CliRun listed = withState("flash-code", {"--json", "backups"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    EXPECT_NE(listed.out.find("\"port\":\"1-1\""), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"result\":\"success\""), std::string::npos) << listed.out;

    fs::remove_all(backups());
    const CliRun bare = withState("flash-code", {"--trace", "--no-backup", "update", kSampleImage});
    ASSERT_EQ(bare.exitStatus, 0) << bare.err;
    EXPECT_EQ(readRequests(bare.err), 8u);
    EXPECT_FALSE(fs::exists(backups()));
}

TEST_F(CliBackupTest, KeepBackupsSetsHowManyRunsPruningKeeps) {
    const auto contents = [this] {
        std::size_t count = 0;
        for (const auto& item : fs::directory_iterator(backups()))
            if (item.path().extension().empty()) ++count;
        return count;
    };
    // A blank flash erased, then a hub holding the sample image updated.
    ASSERT_EQ(withState("rom-code", {"erase"}).exitStatus, 0);
    ASSERT_EQ(withState("flash-code", {"update", kSampleImage}).exitStatus, 0);
    EXPECT_EQ(contents(), 2u);
    ASSERT_EQ(withState("flash-code", {"--keep-backups", "1", "update", kSampleImage}).exitStatus, 0);
    EXPECT_EQ(contents(), 1u);

    for (const std::string bad : {"0", "-3", "many", "1000001"}) {
        const CliRun refused = withState("flash-code", {"--keep-backups=" + bad, "update", kSampleImage});
        EXPECT_EQ(refused.exitStatus, 2) << bad;
        EXPECT_NE(
            refused.err.find("--keep-backups takes a number of runs from 1 to 1000000, not '" + bad + "'"),
            std::string::npos)
            << refused.err;
    }
}

TEST_F(CliBackupTest, RestoreNeedsConsentAndAnUntouchedBackup) {
    const CliRun none = withState("rom-code", {"restore", "--last", "--yes"});
    EXPECT_EQ(none.exitStatus, 2);
    EXPECT_NE(none.err.find("no history is kept"), std::string::npos) << none.err;
    const CliRun noFile = withState("rom-code", {"restore", "flash.bin", "--yes"});
    EXPECT_EQ(noFile.err, "velmora-cli: flash.bin: No such file or directory\n");

    ASSERT_EQ(withState("stall-write", {"update", kSampleImage}).exitStatus, 1);
    // No terminal to ask on, and no --yes.
    const CliRun unasked = withState("rom-code", {"restore", "--last"});
    EXPECT_EQ(unasked.exitStatus, 2);
    EXPECT_NE(unasked.err.find("--yes"), std::string::npos) << unasked.err;

    // The question names the backup's time, port, version and serial, and the hub.
    const CliRun restored = withState("rom-code", {"restore", "--last", "--yes"});
    EXPECT_EQ(restored.exitStatus, 0) << restored.err;
    EXPECT_TRUE(
        std::regex_search(restored.err, std::regex("write the backup taken 20[0-9-]+T[0-9:.]+Z on 1-1 "
                                                   "\\(version 0102, serial [^)]+\\) to the hub on 1-1 "
                                                   "\\(rom [0-9A-F]{4}, serial [^)]+\\)\\? \\(--yes\\)")))
        << restored.err;
    EXPECT_NE(restored.out.find("Update FW Success"), std::string::npos) << restored.out;

    // A backup altered on disk is refused, by prefix and as a file.
    std::string name;
    for (const auto& item : fs::directory_iterator(backups()))
        if (item.path().extension().empty() && fs::file_size(item.path()) == 32768) {
            std::ifstream in(item.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (bytes != std::string(32768, '\xFF')) name = item.path().filename().string();
        }
    ASSERT_EQ(name.size(), 64u);
    std::string upper = name.substr(0, 8);
    for (char& digit : upper) digit = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
    EXPECT_EQ(withState("rom-code", {"restore", upper, "--yes"}).exitStatus, 0) << upper;
    { std::ofstream(backups() / name, std::ios::binary | std::ios::in | std::ios::out) << "tampered"; }
    const CliRun byPrefix = withState("rom-code", {"restore", name.substr(0, 10), "--yes"});
    EXPECT_EQ(byPrefix.exitStatus, 2);
    EXPECT_NE(byPrefix.err.find("no longer matches"), std::string::npos) << byPrefix.err;
    const CliRun byFile = withState("rom-code", {"restore", (backups() / name).string(), "--yes"});
    EXPECT_EQ(byFile.exitStatus, 2);
    EXPECT_NE(byFile.err.find("no longer matches"), std::string::npos) << byFile.err;
}

// restore writes only what update would: a file that is no image for these hubs
// is refused before anything is erased, whatever its name or size.
TEST_F(CliBackupTest, RestoreRefusesBytesThatAreNoFirmwareOfTheseHubs) {
    const CliRun edited =
        runCli({"image", "edit", kSampleImage, "-o", path("other-ids.bin"), "--sspid", "0999"});
    ASSERT_EQ(edited.exitStatus, 0) << edited.err;
    struct Refused {
        std::string file;
        bool blank;  // --blank: bytes without firmware, confirmed as such
        std::string reason;
    };
    const std::vector<Refused> files = {
        {write("one-byte.bin", {'\x55'}), true, "too short"},
        {write("no-block.bin", std::vector<char>(32768, 0)), false, "no configuration block"},
        {write("short-no-block.bin", std::vector<char>(1024, 0)), true, "is no whole flash"},
        {path("other-ids.bin"), true, "does not list"},
        {"/etc/shadow", false, "/etc/shadow"},
        {"/etc/shadow", true, "/etc/shadow"},
    };
    for (const Refused& each : files) {
        std::vector<std::string> words = {"restore", each.file, "--yes"};
        if (each.blank) words.push_back("--blank");
        const CliRun refused = withState("flash-code", words);
        EXPECT_EQ(refused.exitStatus, 2) << each.file;
        EXPECT_NE(refused.err.find(each.reason), std::string::npos) << refused.err;
        EXPECT_EQ(refused.out.find("Erase Flash"), std::string::npos) << refused.out;
    }
}

// Four to 64 hex digits name a kept backup, never a file of that name in the
// working folder; a file is named with a slash.
TEST_F(CliBackupTest, AHexNameIsTheStoresAndAFileIsNamedWithASlash) {
    const fs::path folder = scratch_.path();
    fs::copy_file(kSampleImage, folder / "cceb");
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    const CliRun byName = withState("flash-code", {"restore", "cceb", "--yes"});
    const CliRun byPath = withState("flash-code", {"restore", "./cceb", "--yes"});
    fs::current_path(before);
    EXPECT_EQ(byName.exitStatus, 2);
    EXPECT_NE(byName.err.find("no backup starts with cceb (to write the file of that name, name it ./cceb)"),
              std::string::npos)
        << byName.err;
    EXPECT_EQ(byPath.exitStatus, 0) << byPath.err;
}

std::string firstBackupSha(const std::string& listing) {
    std::smatch found;
    EXPECT_TRUE(std::regex_search(listing, found, std::regex("\"sha256\":\"([0-9a-f]{64})\""))) << listing;
    return found.size() > 1 ? found[1].str() : std::string{};
}

// A blank flash's backup only by name and with --blank, and then the hub that
// stays in its ROM code has done what was asked; another port's backup only
// with --port, the question naming both.
TEST_F(CliBackupTest, ABlankOrAnotherHubsBackupOnlyWhenNamedSo) {
    ASSERT_EQ(withState("rom-code", {"erase"}).exitStatus, 0);
    const std::string blank = firstBackupSha(withState("rom-code", {"--json", "backups"}).out);
    const CliRun unnamed = withState("flash-code", {"restore", blank, "--yes"});
    EXPECT_EQ(unnamed.exitStatus, 2);
    EXPECT_NE(unnamed.err.find("is a blank flash"), std::string::npos) << unnamed.err;
    EXPECT_EQ(withState("flash-code", {"restore", "--last", "--blank", "--yes"}).exitStatus, 2);
    const CliRun named = withState("flash-code", {"restore", blank, "--blank", "--yes"});
    EXPECT_EQ(named.exitStatus, 0) << named.out << named.err;
    EXPECT_NE(named.err.find("It holds no firmware: the hub will stay in its ROM code."), std::string::npos)
        << named.err;

    fs::remove_all(backups());
    ASSERT_EQ(withState("two-hubs", {"update", "--port", "1-2", kSampleImage}).exitStatus, 0);
    const std::string other = firstBackupSha(withState("flash-code", {"--json", "backups"}).out);
    const CliRun elsewhere = withState("flash-code", {"restore", other, "--yes"});
    EXPECT_EQ(elsewhere.exitStatus, 2);
    EXPECT_NE(elsewhere.err.find(" on 1-2 (version 0102, serial "), std::string::npos) << elsewhere.err;
    EXPECT_NE(elsewhere.err.find("is not from the hub on 1-1"), std::string::npos) << elsewhere.err;
    const CliRun named2 = withState("flash-code", {"restore", other, "--port", "1-1", "--yes"});
    EXPECT_EQ(named2.exitStatus, 0) << named2.err;
    EXPECT_NE(named2.err.find(" on 1-2 (version 0102"), std::string::npos) << named2.err;
    EXPECT_NE(named2.err.find("to the hub on 1-1 (flash 0102"), std::string::npos) << named2.err;
}

// The power cut as a scenario of the command line: the run fails after the
// erase and names the way back.
TEST_F(CliBackupTest, APowerCutAfterTheEraseEndsNamingRecover) {
    const CliRun cut = withState("power-cut-after:2", {"update", kSampleImage});
    EXPECT_EQ(cut.exitStatus, 1);
    EXPECT_NE((cut.out + cut.err).find("velmora-cli recover"), std::string::npos) << cut.out << cut.err;
    for (const char* bad : {"power-cut-after:0", "power-cut-after:", "power-cut-after:2x"})
        EXPECT_EQ(withState(bad, {"update", kSampleImage}).exitStatus, 2) << bad;
}

TEST_F(CliBackupTest, VerifyTellsTheFirstDifferenceAndWritesNothing) {
    const std::string blank = write("blank.bin", std::vector<char>(32768, static_cast<char>(0xFF)));
    const CliRun same = withState("rom-code", {"--trace", "verify", blank});
    EXPECT_EQ(same.exitStatus, 0) << same.err;
    EXPECT_EQ(readRequests(same.err), 8u);

    std::vector<char> image(32768, static_cast<char>(0xFF));
    image[0x1234] = 0;
    image[0x2000] = 0;
    const CliRun differs = withState("rom-code", {"verify", write("one.bin", image)});
    EXPECT_EQ(differs.exitStatus, 1);
    EXPECT_NE(differs.out.find("from 0x01234: 2 bytes differ"), std::string::npos) << differs.out;
}

TEST_F(CliBackupTest, RecoverDoesNothingWithoutAHubOrARunToRecover) {
    const CliRun inFlashCode = withState("flash-code", {"recover", "--yes"});
    EXPECT_EQ(inFlashCode.exitStatus, 1);
    EXPECT_NE(inFlashCode.out.find("nothing to recover"), std::string::npos) << inFlashCode.out;
    const CliRun noRun = withState("rom-code", {"recover", "--yes"});
    EXPECT_EQ(noRun.exitStatus, 1);
    EXPECT_NE(noRun.out.find("1-1: runs its ROM code, but no failed or unfinished run"), std::string::npos)
        << noRun.out;
}

// recover reads the history the runs went to, however it was named: a file in
// VELMORA_HISTORY, or a server (whose runs are kept in the station's own file
// first), never a server's URI taken for a file's name.
TEST_F(CliBackupTest, RecoverReadsTheHistoryTheRunsWentTo) {
    const std::string server = "postgresql:///velmora?host=" + path("no-server");
    struct Naming {
        std::vector<std::string> words;
        std::vector<std::string> environment;
    };
    const std::vector<Naming> namings = {
        {{}, {"VELMORA_HISTORY=" + path("named.sqlite")}},
        {{"--history", server}, {}},
    };
    for (const Naming& naming : namings) {
        fs::remove_all(state_.path() / "velmora");
        std::vector<std::string> environment = naming.environment;
        environment.push_back("XDG_STATE_HOME=" + state_.path().string());
        const auto run = [&](const std::string& scenario, const std::vector<std::string>& words) {
            std::vector<std::string> arguments = {"--config", config(), "--simulate=" + scenario};
            arguments.insert(arguments.end(), naming.words.begin(), naming.words.end());
            arguments.insert(arguments.end(), words.begin(), words.end());
            return runCli(arguments, environment);
        };
        ASSERT_EQ(run("stall-write", {"update", kSampleImage}).exitStatus, 1);
        const CliRun recovered = run("rom-code", {"recover", "--yes"});
        EXPECT_EQ(recovered.exitStatus, 0) << recovered.out << recovered.err;
        EXPECT_NE(recovered.out.find("1-1: left in ROM code by an update at "), std::string::npos)
            << recovered.out;
        EXPECT_NE(recovered.out.find("Update FW Success"), std::string::npos) << recovered.out;
    }
}

// Simulated runs never stand for a real hub: pruning after them leaves a real
// hub's backup alone, restore --last never picks it, and backups tells them apart.
TEST_F(CliBackupTest, BenchRunsLeaveTheRealHubsBackupsAlone) {
    backups::BackupStore real(backups().string(), FolderCreation::Create, RunOrigin::Real);
    std::string error;
    backups::BackupEntry entry;
    entry.runId = RunId::make().text();
    entry.time = "2026-01-01T00:00:00.000Z";
    entry.port = "1-1";
    const std::vector<std::uint8_t> flash(32768, 0x5A);
    ASSERT_TRUE(real.store(flash, entry, error)) << error;
    ASSERT_TRUE(real.finish(*RunId::parse(entry.runId), false, error)) << error;

    ASSERT_EQ(withState("stall-write", {"--keep-backups", "1", "update", kSampleImage}).exitStatus, 1);
    EXPECT_TRUE(fs::exists(backups() / entry.sha256));
    const CliRun restored = withState("rom-code", {"restore", "--last", "--yes"});
    EXPECT_EQ(restored.exitStatus, 0) << restored.err;
    EXPECT_EQ(restored.out.find(entry.sha256), std::string::npos) << restored.out;
    const CliRun listed = withState("flash-code", {"--json", "backups"});
    EXPECT_NE(listed.out.find("\"origin\":\"simulated\""), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"origin\":\"real\""), std::string::npos) << listed.out;
}

// An index entry's texts came from a hub (its serial) and a run: a C1 control or
// an escape in them is shown as '?', never sent to the terminal.
TEST_F(CliBackupTest, BackupsShowsAHubsTextsPrintable) {
    ASSERT_EQ(withState("flash-code", {"update", kSampleImage}).exitStatus, 0);
    ASSERT_EQ(giveBackupsAHostileSerial(backups()), 1u);
    const CliRun listed = withState("flash-code", {"backups"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    EXPECT_NE(listed.out.find("  ?2J?]0;x?"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find_first_of("\x9b\x1b\x07"), std::string::npos) << listed.out;
}

// A run has one name: its backup's index entry and its history row carry the same.
TEST_F(CliBackupTest, OneRunHasOneNameInItsBackupAndItsRow) {
    const std::string history = path("history.sqlite");
    ASSERT_EQ(withState("flash-code", {"--history", history, "update", kSampleImage}).exitStatus, 0);
    const CliRun listed = withState("flash-code", {"--json", "backups"});
    const CliRun rows = runCli({"--json", "--history", history, "history"});
    const std::regex run("\"run\":\"([0-9a-f-]{36})\"");
    const std::regex uuid("\"run_uuid\":\"([0-9a-f-]{36})\"");
    std::smatch backup;
    std::smatch row;
    ASSERT_TRUE(std::regex_search(listed.out, backup, run)) << listed.out;
    ASSERT_TRUE(std::regex_search(rows.out, row, uuid)) << rows.out;
    EXPECT_EQ(backup[1], row[1]);
}

}  // namespace
}  // namespace velmora::testing
