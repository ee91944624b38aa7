// velmora-cli killed (SIGKILL) in each phase of an update over the emulated usbfs,
// then `recover`: the hub ends in its flash code holding the firmware it had or
// the new image, and the killed run stays in the history as unfinished. The kill
// lands while the hub is busy with a request (the hub's own busy time runs on a
// clock that kills the program), so the hub has done that request and the
// program never hears of it. Sent SIGINT, SIGTERM or SIGHUP instead, the program
// writes the flash whole when the signal came after the erase began, and ends
// right after with the signal.
#include <gtest/gtest.h>

#include <signal.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "EmulatedHubFixture.h"
#include "device/FlashOperations.h"
#include "device/simulated/SimulatedBus.h"
#include "history/HistoryDatabase.h"
#include "host/HostMessages.h"
#include "testbed/TestbedClock.h"
#include "testbed/UsbfsTestbed.h"
#include "tests/support/ScratchFolder.h"
#include "tests/usbfs/CliChild.h"

namespace velmora::usbfs::testing {
namespace {

constexpr std::uint16_t kNewImageVersion = 0x0203;
constexpr int kWorkflowFailed = 1;
// The hub's busy times, each its own length so a sleep names its request.
constexpr sim::FlashTiming kTiming{Milliseconds{40}, Milliseconds{14}, Milliseconds{3}};
constexpr int kBackupReads = 2 * flash::kFlashPageBytes / flash::kTransferUnitBytes;

// Time as the wrapped clock's; the program is killed (or sent another signal)
// right after the nth sleep of one length.
class KillingClock final : public Clock {
public:
    explicit KillingClock(Clock& time) : time_(time) {}
    Milliseconds now() const override { return time_.now(); }
    void sleepFor(Milliseconds duration) override {
        time_.sleepFor(duration);
        if (duration == trigger_ && ++seen_ == nth_) {
            if (beforeKill) beforeKill();
            killed_ = true;
            const pid_t target = process_.load();
            if (target > 0) ::kill(target, signal_);
        }
    }
    void killAfter(Milliseconds duration, int nth) {
        trigger_ = duration;
        nth_ = nth;
    }
    void sendInstead(int signal) { signal_ = signal; }
    void setProcess(pid_t process) { process_ = process; }
    bool killed() const { return killed_; }
    std::function<void()> beforeKill;  // what the test looks at then; seen by it once killed()

private:
    Clock& time_;
    Milliseconds trigger_{-1};
    int nth_ = 0;
    int seen_ = 0;
    int signal_ = SIGKILL;
    std::atomic<pid_t> process_{0};
    std::atomic<bool> killed_{false};
};

enum class Ends { ResetOnly, BackupWritten, NothingToDo };

struct KilledPhase {
    const char* name;
    bool byTheHub;  // the hub's busy time, else the program's own reset wait
    Milliseconds sleep;
    int nth;
    Ends ends;
};

void PrintTo(const KilledPhase& phase, std::ostream* out) {
    *out << phase.name;
}

// Each phase of an update, and which signal stops it there.
constexpr std::array<KilledPhase, 5> kEachPhase{
    KilledPhase{"DuringTheBackup", true, kTiming.readPerUnit, kBackupReads / 2, Ends::ResetOnly},
    KilledPhase{"DuringTheErase", true, kTiming.erase, 1, Ends::BackupWritten},
    KilledPhase{"DuringTheProgram", true, kTiming.programPerUnit, 1, Ends::BackupWritten},
    // The reads after the backup's are the read-back: the image is
    // whole, but unverified and the hub still in ROM code.
    KilledPhase{"DuringTheReadBack", true, kTiming.readPerUnit, kBackupReads + 1, Ends::BackupWritten},
    KilledPhase{"DuringTheLastReset", false, flash::kReopenPollInterval, 1, Ends::NothingToDo}};

// An update over the emulated usbfs whose velmora-cli a clock stops in one phase.
class StoppedRunTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef VELMORA_CLI_PROGRAM
        GTEST_SKIP() << "velmora-cli is not part of this build";
#else
        if (!std::filesystem::exists(VELMORA_CLI_PROGRAM)) GTEST_SKIP() << "velmora-cli is not built";
#endif
        sim::SimulatedHubConfig config = commandLineHubConfig();  // the last reset's polls are two seconds
        config.flashTiming = kTiming;
        hub_ = &bus_.addHub(config);
        hub_->loadFlashImage(sampleImage());
        writeCommandLineConfig(folder_ / "config.ini");
        testbed_ = std::make_unique<UsbfsTestbed>(bus_);
        testbedClock_ = std::make_unique<TestbedClock>(virtualClock_, *testbed_);
        servedClock_ = std::make_unique<KillingClock>(*testbedClock_);
    }
    void TearDown() override {
        servedClock_.reset();
        testbedClock_.reset();
        testbed_.reset();
    }

    CliChildEnd run(Clock& served, std::vector<std::string> words, KillingClock* killer = nullptr) {
#ifdef VELMORA_CLI_PROGRAM
        // No timeout wrapper: the kill must reach velmora-cli itself.
        std::vector<std::string> command = {VELMORA_CLI_PROGRAM, "--config",
                                            (folder_ / "config.ini").string(), "--history", historyPath()};
        command.insert(command.end(), words.begin(), words.end());
        std::function<void(pid_t)> started;
        if (killer != nullptr) started = [killer](pid_t process) { killer->setProcess(process); };
        return runCliChild(served, {command, folder_ / "output.txt", folder_ / "state", started});
#else
        (void)served, (void)words, (void)killer;
        return {};
#endif
    }

    // The new image's file; the flash it leaves when written whole.
    std::vector<std::uint8_t> writeNewImage() {
        std::vector<std::uint8_t> image = sampleImage(kNewImageVersion);
        std::ofstream(imagePath(), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        image.resize(flash::kFlashPageBytes, 0xFF);
        return image;
    }
    std::string imagePath() const {
        return (folder_ / "new.bin").string();
    }

    std::string historyPath() const {
        return (folder_ / "history.sqlite").string();
    }

    std::vector<history::HistoryRecord> rows() {
        std::string error;
        auto database = history::HistoryDatabase::open(historyPath(), error);
        EXPECT_TRUE(database) << error;
        if (!database) return {};
        return database->list({}, error).value_or(std::vector<history::HistoryRecord>{});
    }

    VirtualClock virtualClock_;
    KillingClock hubClock_{virtualClock_};
    sim::SimulatedBus bus_{hubClock_};
    sim::SimulatedHub* hub_ = nullptr;
    velmora::testing::ScratchFolder scratch_{"velmora-killed"};
    std::filesystem::path folder_ = scratch_.path();
    std::unique_ptr<UsbfsTestbed> testbed_;
    std::unique_ptr<TestbedClock> testbedClock_;
    std::unique_ptr<KillingClock> servedClock_;
};

class KilledRunTest : public StoppedRunTest, public ::testing::WithParamInterface<KilledPhase> {};

TEST_P(KilledRunTest, RecoverLeavesTheOldFirmwareOrTheNew) {
    const KilledPhase& phase = GetParam();
    const std::vector<std::uint8_t> before = hub_->flashContents();
    const std::vector<std::uint8_t> image = writeNewImage();

    KillingClock& killer = phase.byTheHub ? hubClock_ : *servedClock_;
    killer.killAfter(phase.sleep, phase.nth);
    const CliChildEnd killed = run(*servedClock_, {"update", imagePath()}, &killer);
    ASSERT_TRUE(killer.killed()) << killed.output;
    EXPECT_EQ(killed.signal, SIGKILL) << killed.output;
    killer.killAfter(Milliseconds{-1}, 0);
    testbedClock_->sleepFor(kTestRebootTime + Milliseconds{500});  // a reset under way ends

    const CliChildEnd recovered = run(*testbedClock_, {"recover", "--yes"});
    ASSERT_EQ(recovered.signal, 0) << recovered.output;
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode) << recovered.output;
    const std::vector<history::HistoryRecord> runs = rows();
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs[0].result, history::kResultUnfinished);
    switch (phase.ends) {
        case Ends::ResetOnly:
            EXPECT_EQ(recovered.exitStatus, 0) << recovered.output;
            EXPECT_NE(recovered.output.find("before anything was erased: reset into its flash code\n"),
                      std::string::npos)
                << recovered.output;
            EXPECT_EQ(hub_->flashContents(), before);
            EXPECT_EQ(runs.size(), 1u);
            break;
        case Ends::BackupWritten:
            EXPECT_EQ(recovered.exitStatus, 0) << recovered.output;
            EXPECT_NE(recovered.output.find("Update FW Success"), std::string::npos) << recovered.output;
            EXPECT_EQ(hub_->flashContents(), before);
            ASSERT_EQ(runs.size(), 2u);
            EXPECT_EQ(runs[1].operation, "recover");
            EXPECT_EQ(runs[1].recoveredRun, runs[0].runUuid);
            break;
        case Ends::NothingToDo:
            EXPECT_EQ(recovered.exitStatus, kWorkflowFailed) << recovered.output;
            EXPECT_NE(recovered.output.find("nothing to recover"), std::string::npos) << recovered.output;
            EXPECT_EQ(hub_->flashContents(), image);
            EXPECT_EQ(runs.size(), 1u);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(EachPhase, KilledRunTest, ::testing::ValuesIn(kEachPhase),
                         [](const auto& info) { return std::string(info.param.name); });

struct StopSignal {
    const char* name;
    int number;
};

void PrintTo(const StopSignal& signal, std::ostream* out) {
    *out << signal.name;
}

class SignalledRunTest : public StoppedRunTest,
                         public ::testing::WithParamInterface<std::tuple<KilledPhase, StopSignal>> {};

// The hub's power/control in the emulated sysfs.
std::string powerControl() {
    std::ifstream file("/sys/bus/usb/devices/" + testPortPath(1) + "/power/control");
    std::string value;
    std::getline(file, value);
    return value;
}

// From the first erase request to the end of the run the signal waits: the flash
// ends whole with the new image and the program ends right after, with the
// signal, the hub kept from autosuspending all the while. Before the erase it
// ends the program at once, as it always did.
TEST_P(SignalledRunTest, InsideTheFlashSpanTheUpdateEndsWholeThenTheProgramWithTheSignal) {
    const auto& [phase, signal] = GetParam();
    const std::vector<std::uint8_t> before = hub_->flashContents();
    const std::vector<std::uint8_t> image = writeNewImage();
    KillingClock& killer = phase.byTheHub ? hubClock_ : *servedClock_;
    killer.sendInstead(signal.number);
    killer.killAfter(phase.sleep, phase.nth);
    std::string controlAtTheSignal;
    killer.beforeKill = [&controlAtTheSignal] { controlAtTheSignal = powerControl(); };
    const CliChildEnd ended = run(*servedClock_, {"update", imagePath()}, &killer);
    ASSERT_TRUE(killer.killed()) << ended.output;
    // The hub asleep in its reset wait is off the bus: no device, no setting.
    if (phase.byTheHub) {
        EXPECT_EQ(controlAtTheSignal, phase.ends == Ends::ResetOnly ? "auto" : "on");
    }
    EXPECT_EQ(ended.signal, signal.number) << ended.output;
    const std::string held = std::string("velmora-cli: ") + host::messages::kStopHeldLine + "\n";
    const std::size_t heldAt = ended.output.find(held);
    const std::vector<history::HistoryRecord> runs = rows();
    ASSERT_EQ(runs.size(), 1u);
    if (phase.ends == Ends::ResetOnly) {  // stopped in the backup, before the span
        EXPECT_EQ(heldAt, std::string::npos) << ended.output;
        EXPECT_EQ(hub_->flashContents(), before);
        EXPECT_EQ(runs[0].result, history::kResultUnfinished);
        return;
    }
    EXPECT_NE(heldAt, std::string::npos) << ended.output;
    EXPECT_EQ(ended.output.find(held, heldAt + 1), std::string::npos) << ended.output;
    EXPECT_NE(ended.output.find("Update FW Success"), std::string::npos) << ended.output;
    EXPECT_EQ(hub_->flashContents(), image);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    EXPECT_EQ(runs[0].result, history::kResultSuccess);
}

INSTANTIATE_TEST_SUITE_P(EachPhase, SignalledRunTest,
                         ::testing::Combine(::testing::ValuesIn(kEachPhase),
                                            ::testing::Values(StopSignal{"Interrupt", SIGINT},
                                                              StopSignal{"Terminate", SIGTERM},
                                                              StopSignal{"HangUp", SIGHUP})),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace velmora::usbfs::testing
