// velmora-cli as users run it, a separate process using LibusbPlatform, against
// the emulated hub that this process serves. The program's waits are served from
// this process's virtual clock, so its reset polls take no real time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "EmulatedHubFixture.h"
#include "device/FlashOperations.h"
#include "device/PortLock.h"
#include "device/recording/RecordingPlatform.h"
#include "device/recording/ReplayPlatform.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedUsbPlatform.h"
#include "testbed/ClockServer.h"
#include "testbed/TestbedClock.h"
#include "testbed/UsbfsTestbed.h"
#include "tests/support/HookClock.h"
#include "tests/support/ScratchFolder.h"
#include "tests/workflows/RecordingReporter.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashBackups.h"
#include "workflows/RunObserver.h"

extern char** environ;

namespace velmora::usbfs::testing {
namespace {

constexpr const char* kRunBound = "45";  // seconds; a hung run fails instead of blocking the suite
constexpr std::uint16_t kNewImageVersion = 0x0203;
constexpr int kWorkflowFailed = 1;

// The program keeps a history of its runs, and a run whose record is kept reads
// the hub's status once more at its end: an in-process run that stands for the
// program's observes its runs too, keeping nothing.
class ForgetfulObserver final : public RunObserver {
    class Log final : public RunLog {
    public:
        void phaseStarted(RunPhase) override {}
        void hubSeen(const HubConnection::HubSighting&) override {}
        void ended(const RunEnd&) override {}
    };

public:
    std::unique_ptr<RunLog> runStarted(const RunStart&) override { return std::make_unique<Log>(); }
};

// The program also backs the flash up before it erases, reading it whole twice:
// an in-process run that stands for the program's does too, keeping nothing.
class ForgetfulBackups final : public FlashBackups {
public:
    std::optional<KeptBackup> keep(const std::vector<std::uint8_t>&, const FlashBackupInfo&,
                                   std::string&) override {
        return KeptBackup{"forgotten", "0"};
    }
    bool finish(const std::string&, bool, std::string&) override { return true; }
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

        std::ofstream(folder_ / "config.ini") << "[Support Vid Pid]\nVID_00 = 0x2FE3\nSSPID_00 = 0x0611\n"
                                                 "HSPID_00 = 0x0610\n";
        testbed_ = std::make_unique<UsbfsTestbed>(bus_);
        testbedClock_ = std::make_unique<TestbedClock>(virtualClock_, *testbed_);
    }
    void TearDown() override {
        testbedClock_.reset();
        testbed_.reset();
    }

    // The emulated hub: the one on the usbfs, and its twin on an in-process bus.
    static sim::SimulatedHubConfig hubConfig() {
        sim::SimulatedHubConfig config;
        config.vendorId = kHubVendorId;
        config.superSpeedProductId = kSuperSpeedProductId;
        config.highSpeedProductId = kHighSpeedProductId;
        config.portPath = testPortPath(1);
        config.rebootTime = kTestRebootTime;
        config.waitSelector = 1;  // one-second polls after the reset to ROM code
        return config;
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
        std::vector<char*> arguments;
        for (std::string& word : command) arguments.push_back(word.data());
        arguments.push_back(nullptr);
        const std::string outputPath = (folder_ / outputName).string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        // The child's waits pass in this process's virtual time.
        ClockServer clock(servedClock);
        if (!clock.ready()) return -1;
        posix_spawn_file_actions_adddup2(&actions, clock.clientDescriptor(), clock.clientDescriptor());
        // The child inherits this process's environment: umockdev's preload and
        // the testbed folder, so its libusb sees the emulated bus.
        std::vector<std::string> environment;
        for (char** variable = environ; *variable != nullptr; ++variable) environment.emplace_back(*variable);
        environment.push_back(std::string("VELMORA_SIMULATED_TIME=fd:") +
                              std::to_string(clock.clientDescriptor()));
        std::vector<char*> environmentPointers;
        for (std::string& variable : environment) environmentPointers.push_back(variable.data());
        environmentPointers.push_back(nullptr);
        pid_t child = 0;
        const int error = posix_spawn(&child, arguments[0], &actions, nullptr, arguments.data(),
                                      environmentPointers.data());
        posix_spawn_file_actions_destroy(&actions);
        clock.releaseClientDescriptor();
        if (error != 0) return -1;
        int status = 0;
        if (waitpid(child, &status, 0) != child) return -1;
        std::ifstream written(outputPath);
        output.assign(std::istreambuf_iterator<char>(written), {});
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    // Into ROM code and back: the hub left and returned twice.
    EXPECT_EQ(testbed_->removals(), 2);
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
    ForgetfulObserver observer;
    ForgetfulBackups backups;
    EXPECT_TRUE(updateFunc(WorkflowContext{reporter, connection, nullptr, nullptr, &observer, &backups},
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
        ForgetfulObserver observer;
        ForgetfulBackups backups;
        ASSERT_TRUE(updateFunc(WorkflowContext{reporter, connection, nullptr, nullptr, &observer, &backups},
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
                          Case{{"update", image}, "Fail to back up flash\nUpdate FW Fail\n"}}) {
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
         {"device node:    OK    /dev/bus/usb/", "kernel driver:  OK    none holds the hub\n",
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
    EXPECT_NE(
        output_.find("kernel driver:  FAIL  the hub driver holds the hub: run 'velmora-cli driver load'"),
        std::string::npos)
        << output_;
}

}  // namespace
}  // namespace velmora::usbfs::testing
