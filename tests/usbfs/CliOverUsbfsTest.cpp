// velmora-cli as users run it, a separate process using LibusbPlatform, against
// the emulated hub that this process serves. The program's waits are served from
// this process's virtual clock, so its reset polls take no real time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "EmulatedHubFixture.h"
#include "device/FlashOperations.h"
#include "device/LockHolder.h"
#include "device/PortLock.h"
#include "device/recording/RecordingPlatform.h"
#include "device/recording/ReplayPlatform.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedUsbPlatform.h"
#include "history/HistoryDatabase.h"
#include "testbed/ClockServer.h"
#include "testbed/TestbedClock.h"
#include "testbed/UsbfsTestbed.h"
#include "tests/support/HookClock.h"
#include "tests/support/ScratchFolder.h"
#include "tests/usbfs/CliChild.h"
#include "tests/workflows/RecordingReporter.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashBackups.h"
#include "workflows/RunObserver.h"

namespace velmora::usbfs::testing {
namespace {

constexpr const char* kRunBound = "45";  // seconds; a hung run fails instead of blocking the suite
constexpr std::uint16_t kNewImageVersion = 0x0203;
constexpr int kWorkflowFailed = 1;

// The program also backs the flash up before it erases, reading it whole twice:
// an in-process run that stands for the program's does too, keeping nothing.
class ForgetfulBackups final : public FlashBackups {
public:
    std::optional<KeptBackup> keep(const std::vector<std::uint8_t>&, const FlashBackupInfo& info,
                                   std::string&) override {
        return KeptBackup{info.run, "0"};
    }
    bool finish(const RunId&, bool, std::string&) override { return true; }
    std::string place() const override { return "nowhere"; }
};

class CliOverUsbfsTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef VELMORA_CLI_PROGRAM
        GTEST_SKIP() << "velmora-cli is not part of this build";
#else
        if (!std::filesystem::exists(VELMORA_CLI_PROGRAM)) GTEST_SKIP() << "velmora-cli is not built";
#endif
        hub_ = &bus_.addHub(hubConfig());
        hub_->loadFlashImage(sampleImage());

        writeCommandLineConfig(folder_ / "config.ini");
        testbed_ = std::make_unique<UsbfsTestbed>(bus_);
        testbedClock_ = std::make_unique<TestbedClock>(virtualClock_, *testbed_);
    }
    void TearDown() override {
        testbedClock_.reset();
        testbed_.reset();
    }

    // The emulated hub: the one on the usbfs, and its twin on an in-process bus.
    static sim::SimulatedHubConfig hubConfig() {
        return commandLineHubConfig();
    }
    static SupportedDeviceTable hubTable() {
        SupportedDeviceTable table;
        table.set(0, kHubVendorId, kSuperSpeedProductId, kHighSpeedProductId);
        return table;
    }
    static FirmwareBuffer imageBuffer(std::uint16_t version) {
        const std::vector<std::uint8_t> bytes = sampleImage(version);
        FirmwareBuffer buffer;
        FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()));
        return buffer;
    }

    // Runs velmora-cli with the test's config.ini; returns its exit status.
    int runCli(std::vector<std::string> words) {
        return runCliWith(*testbedClock_, std::move(words), "output.txt", output_);
    }

    // The same with the program's waits served by clock, its output kept in output.
    int runCliWith(Clock& servedClock, std::vector<std::string> words, const std::string& outputName,
                   std::string& output) {
#ifdef VELMORA_CLI_PROGRAM
        std::vector<std::string> command = {"/usr/bin/timeout",
                                            kRunBound,
                                            VELMORA_CLI_PROGRAM,
                                            "--config",
                                            (folder_ / "config.ini").string(),
                                            "--history",
                                            (folder_ / "history.sqlite").string()};
        command.insert(command.end(), words.begin(), words.end());
        const CliChildEnd end =
            runCliChild(servedClock, {command, folder_ / outputName, folder_ / "state", {}});
        output = end.output;
        return end.exitStatus;
#else
        (void)servedClock, (void)words, (void)outputName, (void)output;
        return -1;
#endif
    }

    std::string writeImage(std::uint16_t version) {
        const std::vector<std::uint8_t> image = sampleImage(version);
        const std::filesystem::path path = folder_ / "new.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        return path.string();
    }

    std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    std::filesystem::path backupsFolder() const {
        return folder_ / "state" / "velmora" / "backups";
    }

    std::vector<history::HistoryRecord> historyRows() {
        std::string error;
        auto database = history::HistoryDatabase::open((folder_ / "history.sqlite").string(), error);
        EXPECT_TRUE(database) << error;
        if (!database) return {};
        return database->list({}, error).value_or(std::vector<history::HistoryRecord>{});
    }

    VirtualClock virtualClock_;
    sim::SimulatedBus bus_{virtualClock_};
    std::unique_ptr<TestbedClock> testbedClock_;
    sim::SimulatedHub* hub_ = nullptr;
    velmora::testing::ScratchFolder scratch_{"velmora-usbfs"};
    std::filesystem::path folder_ = scratch_.path();
    std::unique_ptr<UsbfsTestbed> testbed_;
    std::string output_;
};

TEST_F(CliOverUsbfsTest, EasyUpdateWritesTheImageAndBootsIt) {
    const std::vector<std::uint8_t> image = sampleImage(kNewImageVersion);
    std::ofstream(folder_ / "new.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

    ASSERT_EQ(runCli({"update", (folder_ / "new.bin").string()}), 0) << output_;
    EXPECT_NE(output_.find("Update FW Success"), std::string::npos) << output_;
    const std::vector<std::uint8_t> flash = hub_->flashContents();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_EQ(hub_->imageVersion(), kNewImageVersion);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    // Into ROM code and back: the hub's two halves left, and its ROM code's device.
    EXPECT_EQ(testbed_->removals(), 3);
}

// A recording made over libusb replays with no bus at all: the same lines, the
// same requests and statuses (--trace), the same exit status.
TEST_F(CliOverUsbfsTest, AnUpdateRecordedOverUsbfsReplaysWithoutTheBus) {
    const std::string image = writeImage(kNewImageVersion);
    const std::string recording = (folder_ / "usbfs.jsonl").string();
    ASSERT_EQ(runCli({"--trace", "--record", recording, "update", image}), 0) << output_;
    const std::string recorded = output_;
    ASSERT_NE(recorded.find("ctrl C0 D8 "), std::string::npos) << recorded;
    ASSERT_NE(recorded.find("Update FW Success"), std::string::npos) << recorded;
    VirtualClock replayClock;
    std::string replayed;
    EXPECT_EQ(
        runCliWith(replayClock, {"--trace", "--replay", recording, "update", image}, "replay.txt", replayed),
        0)
        << replayed;
    EXPECT_EQ(replayed, recorded);
}

// What velmora-cli recorded over libusb and the emulated usbfs is served in this
// process to the easy update itself, which asks the same and ends as the program did.
TEST_F(CliOverUsbfsTest, AnUpdateRecordedOverUsbfsReplaysInProcess) {
    const std::string image = writeImage(kNewImageVersion);
    const std::string path = (folder_ / "usbfs.jsonl").string();
    ASSERT_EQ(runCli({"--record", path, "update", image}), 0) << output_;
    recording::Recording recorded;
    std::string error;
    ASSERT_TRUE(recording::readRecording(path, recorded, error)) << error;

    VirtualClock clock;
    recording::ReplayPlatform platform(std::move(recorded), clock);
    const SupportedDeviceTable table = hubTable();
    HubConnection connection(platform, table, clock);
    velmora::testing::RecordingReporter reporter;
    ForgetfulBackups backups;
    EXPECT_TRUE(updateFunc(WorkflowContext{reporter, connection, nullptr, nullptr, nullptr, &backups},
                           imageBuffer(kNewImageVersion), image));
    EXPECT_EQ(platform.divergence(), std::nullopt);
    EXPECT_EQ(reporter.pane, output_);
}

// The other way: an update recorded in this process over the simulated platform
// (the emulated hub's twin, no libusb) replays in velmora-cli with the lines the
// program prints when it updates the hub over libusb and the usbfs.
TEST_F(CliOverUsbfsTest, AnUpdateRecordedInProcessReplaysInTheProgramAsOverUsbfs) {
    const std::string image = writeImage(kNewImageVersion);
    ASSERT_EQ(runCli({"update", image}), 0) << output_;
    const std::string overUsbfs = output_;

    const std::string path = (folder_ / "in-process.jsonl").string();
    {
        VirtualClock clock;
        sim::SimulatedBus bus(clock);
        bus.addHub(hubConfig()).loadFlashImage(sampleImage());
        sim::SimulatedUsbPlatform simulated(bus);
        std::string error;
        recording::RecordingHeader header;
        header.program = "usbfs_tests";
        header.command = {"update", image};
        header.table = {{kHubVendorId, kSuperSpeedProductId, kHighSpeedProductId}};
        auto writer = recording::RecordingWriter::create(path, header, error);
        ASSERT_NE(writer, nullptr) << error;
        recording::RecordingPlatform platform(simulated, clock, *writer);
        const SupportedDeviceTable table = hubTable();
        HubConnection connection(platform, table, clock);
        velmora::testing::RecordingReporter reporter;
        ForgetfulBackups backups;
        ASSERT_TRUE(updateFunc(WorkflowContext{reporter, connection, nullptr, nullptr, nullptr, &backups},
                               imageBuffer(kNewImageVersion), image))
            << reporter.pane;
    }
    VirtualClock replayClock;
    std::string replayed;
    EXPECT_EQ(runCliWith(replayClock, {"--replay", path, "update", image}, "replay.txt", replayed), 0)
        << replayed;
    EXPECT_EQ(replayed, overUsbfs);
}

TEST_F(CliOverUsbfsTest, FlashReadSavesTheWholeFlash) {
    const std::filesystem::path saved = folder_ / "flash.bin";
    ASSERT_EQ(runCli({"read", saved.string()}), 0) << output_;
    EXPECT_EQ(readFile(saved), hub_->flashContents());
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
}

TEST_F(CliOverUsbfsTest, EraseLeavesTheFlashBlank) {
    ASSERT_EQ(runCli({"erase"}), 0) << output_;
    const std::vector<std::uint8_t> flash = hub_->flashContents();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t byte) { return byte == 0xFF; }));
}

// The backup over the real USB path: update keeps the flash it erases, backups
// lists it, and restore writes it back by name with the full update run.
TEST_F(CliOverUsbfsTest, UpdateKeepsABackupThatRestoreWritesBack) {
    const std::vector<std::uint8_t> before = hub_->flashContents();
    ASSERT_EQ(runCli({"update", writeImage(kNewImageVersion)}), 0) << output_;
    ASSERT_EQ(hub_->imageVersion(), kNewImageVersion);

    ASSERT_EQ(runCli({"--json", "backups"}), 0) << output_;
    EXPECT_NE(output_.find("\"port\":\"" + testPortPath(1) + "\""), std::string::npos) << output_;
    EXPECT_NE(output_.find("\"version\":\"0102\""), std::string::npos) << output_;
    EXPECT_NE(output_.find("\"result\":\"success\""), std::string::npos) << output_;

    const std::size_t sha = output_.find("\"sha256\":\"");
    ASSERT_NE(sha, std::string::npos) << output_;
    const std::string prefix = output_.substr(sha + 10, 12);

    // The update passed: --last finds nothing to roll back; the backup by name does.
    EXPECT_EQ(runCli({"restore", "--last", "--yes"}), 2) << output_;
    ASSERT_EQ(runCli({"restore", prefix, "--yes"}), 0) << output_;
    EXPECT_NE(output_.find("Update FW Success"), std::string::npos) << output_;
    EXPECT_EQ(hub_->flashContents(), before);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    EXPECT_EQ(hub_->imageVersion(), kImageVersion);
}

// An update that loses the hub half way through programming leaves it in ROM
// code with its flash half written; recover finds it by its port, says what left
// it so, and writes the backup of that run back.
TEST_F(CliOverUsbfsTest, RecoverWritesBackTheFlashOfAHubLeftInRomCode) {
    const std::vector<std::uint8_t> before = hub_->flashContents();
    sim::HubFaults faults;
    faults.disconnect = sim::DisconnectFault{sim::RequestKind::WriteFlash, 2, true};
    hub_->setFaults(faults);
    ASSERT_EQ(runCli({"update", writeImage(kNewImageVersion)}), kWorkflowFailed) << output_;
    hub_->setFaults({});
    testbedClock_->sleepFor(kTestRebootTime + Milliseconds{500});
    ASSERT_EQ(hub_->runState(), sim::RunState::RomCode);
    ASSERT_NE(hub_->flashContents(), before);

    ASSERT_EQ(runCli({"recover", "--yes"}), 0) << output_;
    EXPECT_NE(output_.find(testPortPath(1) + ": left in ROM code by an update at "), std::string::npos)
        << output_;
    EXPECT_NE(output_.find(" that stopped at Write Flash; its backup from before holds version 0102\n"),
              std::string::npos)
        << output_;
    EXPECT_NE(output_.find("Update FW Success"), std::string::npos) << output_;
    EXPECT_EQ(hub_->flashContents(), before);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);

    const std::vector<history::HistoryRecord> runs = historyRows();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].result, history::kResultFailure);
    EXPECT_EQ(runs[1].operation, "recover");
    EXPECT_EQ(runs[1].result, history::kResultSuccess);
    EXPECT_EQ(runs[1].recoveredRun, runs[0].runUuid);
    EXPECT_FALSE(runs[1].backupSha256.empty());  // the broken flash is kept too
}

// The advisory lock works across processes: a hub this process holds open is
// not touched by a second program.
TEST_F(CliOverUsbfsTest, AHubHeldByAnotherProcessIsLeftAlone) {
    PortLock held;
    ASSERT_EQ(held.acquire(testPortPath(1)), kIOReturnSuccess);
    const std::vector<std::uint8_t> before = hub_->flashContents();
    EXPECT_EQ(runCli({"erase"}), kWorkflowFailed) << output_;
    EXPECT_EQ(hub_->flashContents(), before);
    EXPECT_TRUE(hub_->requests().empty());
}

// A flash read whose URB completes with half of its bytes fails the flash page
// read (no file is written) and the update's read-back, instead of passing on
// zeros where the hub's data never arrived.
TEST_F(CliOverUsbfsTest, AShortFlashReadFailsTheReadAndTheReadBack) {
    struct Case {
        std::vector<std::string> words;
        std::string paneEnd;
    };
    const std::filesystem::path saved = folder_ / "flash.bin";
    const std::string image = writeImage(kNewImageVersion);
    // The update's first flash read is its backup's, which stops the run before
    // the erase; without a backup the short read is the read-back's.
    for (const Case& c : {Case{{"read", saved.string()}, "Fail to Read Flash\nRead Fw Fail\n"},
                          Case{{"--no-backup", "update", image}, "Fail to Read Flash\nUpdate FW Fail\n"},
                          Case{{"update", image}, "Fail to back up flash\nThe flash was not kept ("}}) {
        SCOPED_TRACE(c.words.front());
        sim::HubFaults faults;
        faults.shortAnswers.push_back({sim::RequestKind::ReadFlash, 1});
        hub_->setFaults(faults);
        EXPECT_EQ(runCli(c.words), kWorkflowFailed) << output_;
        EXPECT_NE(output_.find(c.paneEnd), std::string::npos) << output_;
        EXPECT_FALSE(std::filesystem::exists(saved));
    }
}

// Two programs: while the first waits for the hub to come back from its reset
// into the new firmware, a second one tries the hub. The first holds the hub's
// lock from its first open to its end, so the second is refused at once as busy,
// touches nothing, and the first finishes its update.
TEST_F(CliOverUsbfsTest, ASecondRunIsRefusedAsBusyWhileTheFirstWaitsForTheHub) {
    const std::string image = writeImage(kNewImageVersion);
    velmora::testing::HookClock clock(*testbedClock_);
    int secondStatus = -1;
    std::string secondOutput;
    std::size_t requestsBefore = 0;
    clock.afterSleep(flash::kReopenPollInterval, [&] {
        requestsBefore = hub_->requests().size();
        secondStatus = runCliWith(*testbedClock_, {"erase"}, "second.txt", secondOutput);
    });

    ASSERT_EQ(runCliWith(clock, {"update", image}, "output.txt", output_), 0) << output_;

    EXPECT_EQ(secondStatus, kWorkflowFailed) << secondOutput;
    EXPECT_NE(secondOutput.find("velmora-cli: Zelo Hub is busy: another update program is using it\n"),
              std::string::npos)
        << secondOutput;
    EXPECT_EQ(secondOutput.find("Erase Flash..."), std::string::npos);
    EXPECT_NE(output_.find("Update FW Success"), std::string::npos) << output_;
    EXPECT_EQ(hub_->imageVersion(), kNewImageVersion);
    // The first request after the second run's attempt is the first run's own reopen.
    ASSERT_GT(hub_->requests().size(), requestsBefore);
    EXPECT_EQ(sim::classifyRequest(hub_->requests()[requestsBefore].setup), sim::RequestKind::OpenHandshake);
}

// The same while the first run's hub is off the bus, restarting into its ROM code:
// nothing is listed, and only the first run's port lock tells the second run, in
// another process, that the hub is busy and whose it is. It sends the hub nothing.
// (On the emulated bus a second libusb process started while the hub is away keeps
// the first from seeing it return, so the first run's end is not checked here; the
// workflow test of the same race over the simulated bus checks that it finishes.)
// A lock file left by a run that has ended is no holder: with the hub gone, that is
// a plain open failure.
TEST_F(CliOverUsbfsTest, ASecondRunIsRefusedAsBusyWhileTheHubIsOffTheBus) {
    const std::string image = writeImage(kNewImageVersion);
    velmora::testing::HookClock clock(*testbedClock_);
    int secondStatus = -1;
    std::string secondOutput;
    bool wasOffTheBus = false;
    std::size_t requestsBefore = 0;
    std::size_t requestsAfter = 0;
    clock.afterSleep(flash::kFastReopenPollInterval, [&] {
        wasOffTheBus = !hub_->isOnBus();
        requestsBefore = hub_->requests().size();
        secondStatus = runCliWith(*testbedClock_, {"--no-backup", "erase"}, "second.txt", secondOutput);
        requestsAfter = hub_->requests().size();
    });
    runCliWith(clock, {"--no-backup", "update", image}, "output.txt", output_);

    ASSERT_TRUE(wasOffTheBus) << output_;
    EXPECT_EQ(secondStatus, kWorkflowFailed) << secondOutput;
    std::string holder = "(velmora-cli) holds the hub on port ";
    holder.append(testPortPath(1)).append(": let it finish, or end it\n");
    for (const std::string& line : {std::string("Zelo Hub is busy: another update program is using it\n"),
                                    std::string("velmora-cli: Zelo Hub is busy: another update program is "
                                                "using it\nvelmora-cli: process "),
                                    holder})
        EXPECT_NE(secondOutput.find(line), std::string::npos) << line << "\n" << secondOutput;
    EXPECT_EQ(secondOutput.find("Fail to Open Rom Device"), std::string::npos) << secondOutput;
    EXPECT_EQ(requestsAfter, requestsBefore);

    ASSERT_TRUE(std::filesystem::exists(portLockFile(testPortPath(1))));  // left by the first run
    bus_.unplug(testPortPath(1));
    testbed_->sync();
    EXPECT_EQ(runCli({"--no-backup", "erase", "--port", testPortPath(1)}), kWorkflowFailed) << output_;
    EXPECT_NE(output_.find("Fail to Open Rom Device\n"), std::string::npos) << output_;
    EXPECT_EQ(output_.find("busy"), std::string::npos) << output_;
}

// The hub is listed again after the reset, but every handshake of the reopen
// finds no device: the update has not reached the hub's new firmware and must
// not say it has.
TEST_F(CliOverUsbfsTest, AReopenWhoseHandshakeFindsNoDeviceIsNoSuccess) {
    const std::string image = writeImage(kNewImageVersion);
    velmora::testing::HookClock clock(*testbedClock_);
    clock.afterSleep(flash::kReopenPollInterval, [&] {
        hub_->setFaults(
            failing(sim::RequestKind::OpenHandshake, flash::kReopenPolls, sim::Outcome::NoDevice));
    });

    EXPECT_EQ(runCliWith(clock, {"update", image}, "output.txt", output_), kWorkflowFailed) << output_;

    EXPECT_NE(output_.find("Fail to Reset to Flash Code\nUpdate FW Fail\n"), std::string::npos) << output_;
    EXPECT_EQ(output_.find("Update FW Success"), std::string::npos);
}

// A hub another run holds is reported as busy, not as a hub without its driver:
// the hub info text stays the window's, the reason and exit status say what
// happened, and the hub sees no request.
TEST_F(CliOverUsbfsTest, DetectSaysAHeldHubIsBusy) {
    PortLock held;
    ASSERT_EQ(held.acquire(testPortPath(1)), kIOReturnSuccess);
    EXPECT_EQ(runCli({"detect"}), kWorkflowFailed) << output_;
    // Held by another of our runs, not by another driver: the field says so too.
    EXPECT_NE(output_.find("Zelo Hub is busy: another update program is using it\n"), std::string::npos)
        << output_;
    EXPECT_EQ(output_.find("fwVer:ffff"), std::string::npos) << output_;
    EXPECT_NE(output_.find("velmora-cli: Zelo Hub is busy: another update program is using it\n"),
              std::string::npos)
        << output_;
    EXPECT_TRUE(hub_->requests().empty());
}

// doctor over the real USB path: the node, sysfs and the port lock as the
// libusb platform meets them. No Brennic module is loaded in the emulated system.
TEST_F(CliOverUsbfsTest, DoctorFindsAReadyHubWithoutTheModule) {
    ASSERT_EQ(runCli({"doctor"}), 0) << output_;
    for (const char* line :
         {"device node:    OK    /dev/bus/usb/",
          "kernel driver:  OK    none holds the hub (and its High-Speed half ",
          "module:         WARN  Brennic is not loaded: run 'velmora-cli driver load'",
          "lock:           OK    no other run holds the hub\n",
          "code:           OK    flash code, firmware version 0102\n", "  ready for an update\n"}) {
        EXPECT_NE(output_.find(line), std::string::npos) << line << "\n" << output_;
    }
}

TEST_F(CliOverUsbfsTest, DoctorReportsAHubInRomCodeAsReady) {
    hub_->setRunState(sim::RunState::RomCode);
    ASSERT_EQ(runCli({"doctor"}), 0) << output_;
    EXPECT_NE(output_.find("code:           OK    ROM code"), std::string::npos) << output_;
}

TEST_F(CliOverUsbfsTest, DoctorNamesTheProcessHoldingTheHub) {
    PortLock held;
    ASSERT_EQ(held.acquire(testPortPath(1)), kIOReturnSuccess);
    std::string ownName;
    std::getline(std::ifstream("/proc/self/comm"), ownName);
    EXPECT_EQ(runCli({"doctor"}), kWorkflowFailed) << output_;
    const std::string line =
        "lock:           FAIL  process " + std::to_string(getpid()) + " (" + ownName + ") holds the hub";
    EXPECT_NE(output_.find(line), std::string::npos) << output_;
    EXPECT_NE(output_.find("  not ready for an update\n"), std::string::npos) << output_;
    EXPECT_TRUE(hub_->requests().empty());
}

// The hub driver bound to the hub's interface keeps it from the update.
TEST_F(CliOverUsbfsTest, DoctorSaysTheHubDriverHoldsTheHub) {
    const std::filesystem::path sys = std::filesystem::path(testbed_->rootDirectory()) / "sys";
    const std::filesystem::path device =
        std::filesystem::canonical(sys / "bus/usb/devices" / testPortPath(1));
    const std::string interface = testPortPath(1) + ":1.0";
    std::filesystem::create_directories(sys / "bus/usb/drivers/hub");
    std::filesystem::create_directories(device / interface);
    std::filesystem::create_symlink(device / interface, sys / "bus/usb/devices" / interface);
    std::filesystem::create_symlink(sys / "bus/usb/drivers/hub", device / interface / "driver");
    EXPECT_EQ(runCli({"doctor"}), kWorkflowFailed) << output_;
    EXPECT_NE(output_.find("kernel driver:  FAIL  the hub driver holds the hub (its High-Speed half "),
              std::string::npos)
        << output_;
}

}  // namespace
}  // namespace velmora::usbfs::testing
