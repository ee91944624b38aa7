// The command line run as root on files another user prepared or a crafted file
// supplies: nothing is destroyed, no setuid file appears, nothing blocks, junk is
// refused before it is stored or before the hub is touched, and nothing read from
// a file or an argument drives the terminal.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"
#include "tests/support/ChildProcess.h"

namespace velmora::testing {
namespace {

constexpr uid_t kNobody = 65534;
constexpr std::size_t kFlashBytes = 32768;

class CliUntrustedInputTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        previousUmask_ = ::umask(022);
    }
    void TearDown() override { ::umask(previousUmask_); }

    static bool requestsSeen(const CliRun& run) { return run.err.find("ctrl ") != std::string::npos; }

    mode_t previousUmask_ = 0;
};

// Another user's setuid file at the output path: root writes nothing over it,
// and it stays theirs as it was.
TEST_F(CliUntrustedInputTest, AnotherUsersOutputIsNeverWrittenByRoot) {
    if (!runningAsRoot()) GTEST_SKIP() << "needs root to prepare another user's file";
    const std::string output = write("trap", {'#', '!'});
    ASSERT_EQ(::chown(output.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(output.c_str(), 04755), 0);

    const CliRun run = runCli({"image", "edit", kSampleImage, "-o", output, "--serial", "SN1"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("belongs to user"), std::string::npos) << run.err;
    struct stat status {};
    ASSERT_EQ(::stat(output.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 04755u);
    EXPECT_EQ(status.st_uid, kNobody);
    EXPECT_EQ(read(output), (std::vector<char>{'#', '!'}));
}

struct PlantedOutput {
    const char* name;
    std::function<bool(const std::string& path, const std::string& aside)> plant;
    std::string reason;
    bool needsRoot = false;
};

class CliPlantedOutputTest : public CliUntrustedInputTest,
                             public ::testing::WithParamInterface<PlantedOutput> {};

TEST_P(CliPlantedOutputTest, IsRefusedBeforeAnythingIsDoneAndLeftAsItWas) {
    if (GetParam().needsRoot && !runningAsRoot()) GTEST_SKIP() << "needs root to make a device node";
    const std::string output = path("out.bin");
    const std::string aside = write("aside", {'k', 'e', 'e', 'p'});
    ASSERT_TRUE(GetParam().plant(output, aside));
    struct stat before {};
    ::lstat(output.c_str(), &before);
    std::string reason = GetParam().reason;
    if (const std::size_t at = reason.find("@aside"); at != std::string::npos) reason.replace(at, 6, aside);

    const std::vector<std::vector<std::string>> commands = {
        {"image", "edit", kSampleImage, "-o", output, "--vid", "1A2B"},
        {"--config", config(), "--simulate", "--trace", "read", output},
    };
    for (const std::vector<std::string>& command : commands) {
        const CliRun run = runCli(command);
        EXPECT_EQ(run.exitStatus, 2) << command[1];
        EXPECT_EQ(run.err, "velmora-cli: cannot write '" + output + "': " + reason + "\n");
        EXPECT_FALSE(requestsSeen(run));
        struct stat after {};
        ::lstat(output.c_str(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(read(aside), (std::vector<char>{'k', 'e', 'e', 'p'}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, CliPlantedOutputTest,
    ::testing::Values(PlantedOutput{"Fifo",
                                    [](const std::string& path, const std::string&) {
                                        return ::mkfifo(path.c_str(), 0666) == 0;
                                    },
                                    "is a FIFO, not a regular file; not replaced"},
                      PlantedOutput{"NullDevice",
                                    [](const std::string& path, const std::string&) {
                                        return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
                                    },
                                    "is a character device, not a regular file; not replaced", true},
                      PlantedOutput{"Symlink",
                                    [](const std::string& path, const std::string& aside) {
                                        return ::symlink(aside.c_str(), path.c_str()) == 0;
                                    },
                                    "is a symbolic link to '@aside'; not replaced"}),
    [](const auto& info) { return std::string(info.param.name); });

// "-o -" and "read -" put the image on stdout for a pipe; every other line goes to
// stderr, the string area's dump included.
TEST_F(CliUntrustedInputTest, ADashWritesTheImageToStandardOutputAndEverythingElseToStderr) {
    const std::string file = path("edited.bin");
    ASSERT_EQ(runCli({"image", "edit", kSampleImage, "-o", file, "--serial", "SN1"}).exitStatus, 0);
    CliRun run = runCli({"image", "edit", kSampleImage, "-o", "-", "--serial", "SN1"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    const std::vector<char> edited = read(file);
    EXPECT_EQ(std::vector<char>(run.out.begin(), run.out.end()), edited);
    EXPECT_NE(run.err.find("0e 03 56 65 6c 6d 6f 72 \n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("velmora-cli: wrote 32768 bytes to standard output\n"), std::string::npos);

    run = simulated("flash-code", {"read", "-"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out.size(), kFlashBytes);
    EXPECT_EQ(run.err,
              "Open Device...\nReading Flash...\nReset to Flash Code...\nRead Fw Success\n"
              "velmora-cli: wrote 32768 bytes to standard output\n");
}

// A FIFO planted where a configuration, a definition file or an image is read.
TEST_F(CliUntrustedInputTest, AFifoInputIsRefusedWithoutBlocking) {
    const std::string fifo = path("planted");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const std::string reason = "is a FIFO, not a regular file";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--config", fifo, "--simulate", "detect"}, "--config: cannot use '" + fifo + "': " + reason},
        {{"image", "show", fifo}, "cannot read '" + fifo + "': " + reason},
        {{"image", "show", kSampleImage, "--ic", fifo}, "cannot read '" + fifo + "': " + reason},
        {{"--config", config(), "--simulate", "--trace", "update", fifo},
         "cannot read '" + fifo + "': " + reason},
        {{"update", "/dev/zero"}, "cannot read '/dev/zero': is a character device, not a regular file"},
    };
    for (const auto& [arguments, error] : cases) {
        const CliRun run = runCli(arguments);
        EXPECT_EQ(run.exitStatus, 2) << error;
        EXPECT_EQ(run.err, "velmora-cli: " + error + "\n");
    }
}

struct JunkValue {
    const char* name;
    std::string option;
    std::string value;
    std::string error;
};

class CliJunkValueTest : public CliUntrustedInputTest, public ::testing::WithParamInterface<JunkValue> {};

TEST_P(CliJunkValueTest, IsRefusedAndNothingIsWritten) {
    const CliRun run =
        runCli({"image", "edit", kSampleImage, "-o", path("out.bin"), GetParam().option, GetParam().value});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "velmora-cli: " + GetParam().error + "\n");
    EXPECT_FALSE(std::filesystem::exists(path("out.bin")));
}

const std::string kContainerIdForm =
    "--container-id: expected 32 hex digits, as {00112233-4455-6677-8899-aabbccddeeff} or without braces and "
    "dashes, got ";

INSTANTIATE_TEST_SUITE_P(
    Ids, CliJunkValueTest,
    ::testing::Values(
        JunkValue{"Letters", "--vid", "ZZZZ", "--vid: expected four hex digits, got 'ZZZZ'"},
        JunkValue{"Prefix", "--vid", "0x12", "--vid: expected four hex digits, got '0x12'"},
        JunkValue{"OneLetter", "--sspid", "12G4", "--sspid: expected four hex digits, got '12G4'"},
        JunkValue{"Blank", "--hspid", "12 4", "--hspid: expected four hex digits, got '12 4'"},
        JunkValue{"ContainerLetters", "--container-id", "zz112233445566778899aabbccddeeff",
                  kContainerIdForm + "'zz112233445566778899aabbccddeeff'"},
        JunkValue{"ContainerTooLong", "--container-id", "00112233445566778899aabbccddeeff00",
                  kContainerIdForm + "'00112233445566778899aabbccddeeff00'"},
        JunkValue{"ContainerShort", "--container-id", "0011", kContainerIdForm + "'0011'"},
        JunkValue{"ContainerEmpty", "--container-id", "", kContainerIdForm + "''"},
        JunkValue{"ContainerMisplacedDash", "--container-id", "{0011223-34455-6677-8899-aabbccddeeff}",
                  kContainerIdForm + "'{0011223-34455-6677-8899-aabbccddeeff}'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliUntrustedInputTest, ContainerIdsAreTakenWithOrWithoutBracesAndDashes) {
    for (const std::string value :
         {"{00112233-4455-6677-8899-aabbccddeeff}", "00112233-4455-6677-8899-AABBCCDDEEFF",
          "{00112233445566778899aabbccddeeff}", "00112233445566778899aabbccddeeff"}) {
        const std::string output = path("out.bin");
        ASSERT_EQ(runCli({"image", "edit", kSampleImage, "-o", output, "--container-id", value}).exitStatus,
                  0)
            << value;
        const CliRun run = runCli({"image", "show", output});
        EXPECT_NE(run.out.find("Container ID: {00112233-4455-6677-8899-aabbccddeeff}\n"), std::string::npos)
            << value;
    }
}

struct BrokenConfig {
    const char* name;
    std::string text;  // empty with folder set: a folder at the path
    std::string reason;
    bool folder = false;
};

class CliBrokenConfigTest : public CliUntrustedInputTest,
                            public ::testing::WithParamInterface<BrokenConfig> {};

// A configuration the user named that cannot be read or names no hub is an error,
// never "Please Insert Zelo Hub Device" or an empty list.
TEST_P(CliBrokenConfigTest, IsAnErrorNamingTheFileAndTheReason) {
    const std::string file = path("named.ini");
    if (GetParam().folder) {
        std::filesystem::create_directory(file);
    } else {
        write("named.ini", {GetParam().text.begin(), GetParam().text.end()});
    }
    std::string reason = GetParam().reason;
    if (const std::size_t at = reason.find('@'); at != std::string::npos) reason.replace(at, 1, file);
    for (const std::string command : {"detect", "list", "erase"}) {
        const CliRun run = runCli({"--config", file, "--simulate", "--trace", command});
        EXPECT_EQ(run.exitStatus, 2) << command;
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(run.err, "velmora-cli: --config: cannot use '" + file + "': " + reason + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliBrokenConfigTest,
    ::testing::Values(
        BrokenConfig{"LineOverTheLimit", "[Support Vid Pid]\nVID_00 = " + std::string(1100, '1') + "\n",
                     "input line too long in @ (2)"},
        BrokenConfig{"StrayByte", "[Support Vid Pid]\nVID_00 = 0x2FE3\n\x01\n", "syntax error in @ (3): ?"},
        BrokenConfig{"UnterminatedSection", "[Support Vid Pid\nVID_00 = 0x2FE3\n",
                     "syntax error in @ (1): [Support Vid Pid"},
        BrokenConfig{"Folder", "", "Is a directory", true},
        BrokenConfig{"EmptyFile", "", "it defines no supported hub (VID_nn, SSPID_nn, HSPID_nn)"},
        BrokenConfig{"NoCompleteEntry", "[Support Vid Pid]\nVID_00 = 0x2FE3\nSSPID_00 = 0x0611\n",
                     "it defines no supported hub (VID_nn, SSPID_nn, HSPID_nn)"}),
    [](const auto& info) { return std::string(info.param.name); });

// Checks that need no hub come first, and a hub that would not open says why.
TEST_F(CliUntrustedInputTest, RealCausesAndChecksBeforeTheHub) {
    CliRun run = simulated("flash-code", {"--trace", "read", "/proc/velmora-flash.bin"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_FALSE(requestsSeen(run)) << run.err;
    EXPECT_EQ(run.err.rfind("velmora-cli: cannot write '/proc/velmora-flash.bin': ", 0), 0u) << run.err;
    run = runCli({"image", "edit", kSampleImage, "-o", "/proc/velmora-edited.bin"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err.rfind("velmora-cli: cannot write '/proc/velmora-edited.bin': ", 0), 0u) << run.err;

    run = simulated("busy", {"detect"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "Detect Zelo Hub : Success\nfwVer:ffff\n");
    EXPECT_EQ(run.err,
              "velmora-cli: the hub was not opened: another driver holds it, or this user may not open it "
              "(see 'driver load')\n");
}

// Texts from an image, from paths and from arguments reach the terminal without
// their control characters, 8-bit and UTF-8 encoded C1 controls included.
TEST_F(CliUntrustedInputTest, NothingFromAFileOrAnArgumentDrivesTheTerminal) {
    std::vector<char> image = read(kSampleImage);
    const std::size_t manufacturer = 0x7F2D;  // the first string's text, in the block at 0x7F00
    image.at(manufacturer) = '\x9B';
    image.at(manufacturer + 1) = '\xC2';
    image.at(manufacturer + 2) = '\x9B';
    CliRun run = runCli({"image", "show", write("c1.bin", image)});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("Manufacturer: ??mora Labs\n"), std::string::npos) << run.out;

    const std::string crafted = path(
        "\x1b]0;owned\x07\x9b"
        "2J.bin");
    run = runCli({"image", "show", crafted});
    EXPECT_EQ(run.err,
              "velmora-cli: cannot read '" + path("?]0;owned??2J.bin") + "': No such file or directory\n");
    run = runCli({"image", "edit", kSampleImage, "-o", path("o.bin"), "--vid", "\x1b[2J"});
    EXPECT_EQ(run.err, "velmora-cli: --vid: expected four hex digits, got '?[2J'\n");
}

TEST_F(CliUntrustedInputTest, JsonEscapesC1Controls) {
    std::vector<char> image = read(kSampleImage);
    image.at(0x7F2D) = '\xC2';
    image.at(0x7F2E) = '\x9B';
    const CliRun run = runCli({"--json", "image", "show", write("c1.bin", image)});
    EXPECT_NE(run.out.find("\"manufacturer\":\"\\u009blmora Labs\""), std::string::npos) << run.out;
}

// The command line writes an option's position, as the window does; a definition
// file whose values are not the positions gets a warning saying so.
TEST_F(CliUntrustedInputTest, SetSaysWhichPositionItWroteAndWarnsWhenTheValueDiffers) {
    const std::string definition = path("gaps.INI");
    const std::string text =
        "[HubFF_USB_01]\nPropName = Drive\nPageName = SSC\nPropAddr = 20\nPropMask = 3\n"
        "PropOption_00 = Low\nPropOption_02 = High\nDataOption_02 = 2\n";
    write("gaps.INI", {text.begin(), text.end()});
    CliRun run = runCli(
        {"image", "edit", kSampleImage, "-o", path("out.bin"), "--ic", definition, "--set", "Drive=Low"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("velmora-cli: --set Drive: wrote option position 0 (0 : Low)\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("warning"), std::string::npos);

    run = runCli(
        {"image", "edit", kSampleImage, "-o", path("out.bin"), "--ic", definition, "--set", "Drive=High"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("velmora-cli: --set Drive: wrote option position 1 (2 : High)\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(
        run.err.find("velmora-cli: warning: --set Drive: the definition file gives this option the value 2, "
                     "but its position 1 is what the image stores"),
        std::string::npos)
        << run.err;
}

}  // namespace
}  // namespace velmora::testing
