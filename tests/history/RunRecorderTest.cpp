// The recorder fed by the workflows on the simulated hub: what a success, each
// kind of failure and a process killed mid-run leave in the history, a history
// that cannot be written or whose disk fills for a unit, and parallel runs
// sharing one recorder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Sha256.h"
#include "app/TextAppend.h"
#include "device/simulated/HubFaults.h"
#include "history/HistoryDatabase.h"
#include "history/RunRecorder.h"
#include "history/SerialCounter.h"
#include "history/StationFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SmallDisk.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashPage.h"
#include "workflows/RunOrigin.h"
#include "workflows/ScalarUpdate.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::testing {
namespace {

using history::HistoryRecord;

const std::string kImagePath = "/images/new.bin";

// The phase names of a row, without their times.
std::string phaseNames(const std::string& phases) {
    std::string names;
    std::size_t start = 0;
    while (start <= phases.size() && !phases.empty()) {
        std::size_t end = phases.find(';', start);
        if (end == std::string::npos) end = phases.size();
        const std::string entry = phases.substr(start, end - start);
        appendText(names, {names.empty() ? "" : ",", entry.substr(0, entry.find('='))});
        start = end + 1;
    }
    return names;
}

// The milliseconds a row gives one phase; -1 when it has none.
long phaseTime(const std::string& phases, const std::string& name) {
    const std::size_t at = phases.find(name + "=");
    return at == std::string::npos ? -1 : std::stol(phases.substr(at + name.size() + 1));
}

std::vector<HistoryRecord> rowsOf(const std::string& path) {
    std::string error;
    auto database = history::HistoryDatabase::open(path, error);
    EXPECT_TRUE(database) << error;
    if (!database) return {};
    auto rows = database->list({}, error);
    EXPECT_TRUE(rows) << error;
    return rows.value_or(std::vector<HistoryRecord>{});
}

class RunRecorderTest : public SimulatedHubFixture {
protected:
    WorkflowContext recorded() {
        WorkflowContext context = SimulatedHubFixture::context();
        context.observer = &recorder_;
        return context;
    }

    HistoryRecord onlyRow() {
        const std::vector<HistoryRecord> rows = rowsOf(path_);
        EXPECT_EQ(rows.size(), 1u);
        return rows.empty() ? HistoryRecord{} : rows[0];
    }

    ScratchFolder scratch_{"velmora-recorder"};
    std::string path_ = scratch_.path("history.sqlite");
    std::vector<std::string> problems_;
    RunRecorder recorder_{path_, FolderCreation::MustExist, clock_,
                          [this](const std::string& line) { problems_.push_back(line); }};
    std::vector<std::uint8_t> bytes_ = sampleImage(8192, 0x0203);
    FirmwareBuffer image_ = parsed(bytes_);
};

TEST_F(RunRecorderTest, SuccessfulUpdateKeepsEveryField) {
    ASSERT_TRUE(updateFunc(recorded(), image_, kImagePath));

    const HistoryRecord row = onlyRow();
    EXPECT_EQ(row.operation, "update");
    EXPECT_EQ(row.result, "success");
    EXPECT_EQ(row.failure, "");
    EXPECT_FALSE(row.host.empty());
    EXPECT_EQ(row.port, "1-1");
    EXPECT_EQ(row.hubIds, "2FE3:0611");
    EXPECT_EQ(row.versionBefore, "0100");
    EXPECT_EQ(row.versionAfter, "0203");
    EXPECT_EQ(row.imagePath, kImagePath);
    EXPECT_EQ(row.imageSha256, sha256Hex(bytes_.data(), bytes_.size()));
    EXPECT_EQ(row.imageSerial, image_.serial);
    EXPECT_FALSE(row.imageSerial.empty());
    EXPECT_EQ(phaseNames(row.phases), "open,erase,write,read,verify,reset");
    // In virtual time the phases with a reset last at least the hub's reboot.
    EXPECT_GE(phaseTime(row.phases, "open"), kRigRebootTime.count());
    EXPECT_GE(phaseTime(row.phases, "reset"), kRigRebootTime.count());
    EXPECT_GE(phaseTime(row.phases, "write"), 0);
    EXPECT_LE(row.started, row.ended);
    EXPECT_TRUE(problems_.empty());
    EXPECT_FALSE(connection_->isOpen());
}

TEST(ImageDigestTest, IsTheStandardSha256) {
    const std::string abc = "abc";
    EXPECT_EQ(sha256Hex(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

struct FailureRow {
    const char* name;
    std::function<void(sim::SimulatedHub&, sim::SimulatedBus&)> fault;
    const char* failure;
    const char* versionBefore;
    const char* port;
    const char* phases;
};

class RunRecorderFailureTest : public RunRecorderTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(RunRecorderFailureTest, RowSaysWhereItFailed) {
    GetParam().fault(*hub_, bus_);
    EXPECT_FALSE(updateFunc(recorded(), image_, kImagePath));

    const HistoryRecord row = onlyRow();
    EXPECT_EQ(row.result, "failure");
    EXPECT_EQ(row.failure, GetParam().failure);
    EXPECT_EQ(row.versionBefore, GetParam().versionBefore);
    EXPECT_EQ(row.versionAfter, "");
    EXPECT_EQ(row.port, GetParam().port);
    EXPECT_EQ(phaseNames(row.phases), GetParam().phases);
    EXPECT_FALSE(row.ended.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RunRecorderFailureTest,
    ::testing::Values(
        FailureRow{"CorruptReadBack",
                   [](sim::SimulatedHub& hub, sim::SimulatedBus&) {
                       sim::HubFaults faults;
                       faults.corruptReadAddress = 0x100;
                       hub.setFaults(faults);
                   },
                   "Fail to verify flash", "0100", "1-1", "open,erase,write,read,verify"},
        FailureRow{"EraseStalls",
                   [](sim::SimulatedHub& hub, sim::SimulatedBus&) {
                       SimulatedHubs::failNext(hub, sim::RequestKind::EraseFlash, 3);
                   },
                   "Fail to Erase Flash", "0100", "1-1", "open,erase"},
        FailureRow{"NeverComesBack",
                   [](sim::SimulatedHub& hub, sim::SimulatedBus&) {
                       sim::HubFaults faults;
                       faults.neverReturnsAfterReset = true;
                       hub.setFaults(faults);
                   },
                   "Fail To Open Rom Device Please Load Driver firstly Then replugin usb hub device", "0100",
                   "1-1", "open"},
        FailureRow{"NoHub",
                   [](sim::SimulatedHub& hub, sim::SimulatedBus& bus) {
                       bus.unplug("1-1");
                       static_cast<void>(hub);
                   },
                   "Fail To Open Rom Device Please Load Driver firstly Then replugin usb hub device", "", "",
                   "open"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunRecorderTest, ReadEraseAndScalarRowsNameTheirOperation) {
    FirmwareBuffer flashPage;
    ASSERT_TRUE(readFunc_FwFlash(recorded(), flashPage));
    ASSERT_TRUE(eraseFunc_FwFlash(recorded()));
    const std::string folder = scratch_.path().string();
    scratch_.write("fw.bin", bytes_);
    FirmwareBuffer scalar;
    ASSERT_TRUE(updateScalar(recorded(), scalar, {folder, "fw.bin"}, "fw.bin"));

    const std::vector<HistoryRecord> rows = rowsOf(path_);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].operation, "read");
    EXPECT_EQ(phaseNames(rows[0].phases), "open,read,reset");
    EXPECT_EQ(rows[0].versionAfter, "0100");
    EXPECT_EQ(rows[0].imagePath, "");
    EXPECT_EQ(rows[1].operation, "erase");
    EXPECT_EQ(phaseNames(rows[1].phases), "open,erase,reset");
    // An erased flash holds no firmware: the hub stays in its ROM code.
    EXPECT_EQ(rows[1].versionAfter, "rom");
    EXPECT_EQ(rows[2].operation, "scalar");
    EXPECT_EQ(rows[2].versionBefore, "rom");
    EXPECT_EQ(rows[2].versionAfter, "0203");
    EXPECT_EQ(rows[2].imagePath,
              folder + "/fw.bin");  // the file the configuration names, not the FW line's name
}

// Dies the moment the run announces the write, as a pulled plug or a kill would.
class DyingReporter final : public RecordingReporter {
public:
    void appendProgressInfo_Blue(const std::string& text) override {
        if (text == messages::kWriteFlash) std::raise(SIGKILL);
        RecordingReporter::appendProgressInfo_Blue(text);
    }
};

TEST_F(RunRecorderTest, ProcessKilledMidRunLeavesAnUnfinishedRow) {
    const ChildEnd end = runInChild([this] {
        DyingReporter reporter;
        WorkflowContext context{reporter, *connection_, nullptr, nullptr, &recorder_};
        updateFunc(context, image_, kImagePath);
        return 0;
    });
    ASSERT_EQ(end.signal, SIGKILL);

    const HistoryRecord row = onlyRow();
    EXPECT_EQ(row.result, "unfinished");
    EXPECT_EQ(row.ended, "");
    EXPECT_EQ(row.port, "1-1");
    EXPECT_EQ(row.versionBefore, "0100");
    // The phases done have their times; the one it died in has none.
    EXPECT_EQ(phaseNames(row.phases), "open,erase,write");
    EXPECT_EQ(phaseTime(row.phases, "write"), -1);
    EXPECT_GE(phaseTime(row.phases, "erase"), 0);
}

TEST_F(RunRecorderTest, UnwritableHistoryNeverStopsARunAndIsToldOncePerRun) {
    scratch_.write("plain-file", {1, 2, 3});
    const std::string unusable = scratch_.path("plain-file/history.sqlite");
    {
        RunRecorder recorder(unusable, FolderCreation::Create, clock_,
                             [this](const std::string& line) { problems_.push_back(line); });
        WorkflowContext context = SimulatedHubFixture::context();
        context.observer = &recorder;

        EXPECT_TRUE(updateFunc(context, image_, kImagePath));
        EXPECT_TRUE(updateFunc(context, image_, kImagePath));
    }  // at its end it tells what was never written

    ASSERT_EQ(problems_.size(), 3u);
    for (const std::string& problem : problems_)
        EXPECT_NE(problem.find(unusable), std::string::npos) << problem;
    EXPECT_NE(problems_[2].find("2 run records could never be written"), std::string::npos) << problems_[2];
    EXPECT_EQ(reporter_.colour, PaneColour::Blue);
    EXPECT_EQ(hub_->imageVersion(), 0x0203);
}

// A disk that fills for one unit and has room again at the next: the unit in
// between is told once, kept in memory and written before the next unit's own
// row, so each unit has its row. The disk is a small tmpfs in a mount namespace
// of a child process (root only); the child says what it found on stderr.
TEST_F(RunRecorderTest, FullDiskForOneUnitThenRoomAgainRecordsEachUnit) {
    if (!runningAsRoot()) GTEST_SKIP() << "a small file system of its own needs root";
    const std::string disk = scratch_.path("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0700), 0);
    const ChildEnd end = runInChild([&] {
        if (!mountSmallDisk(disk)) return kNoFileSystemOfItsOwn;
        const std::string path = disk + "/history.sqlite";
        const std::string filler = disk + "/filler";
        history::StationFileAccess file(path, FolderCreation::MustExist);
        std::string error;
        if (!file.open(error)) return 2;  // laid out while there is room
        bool passed = false;
        {
            RunRecorder recorder(file, {"bay-1"}, clock_,
                                 [this](const std::string& line) { problems_.push_back(line); });
            WorkflowContext context = SimulatedHubFixture::context();
            context.observer = &recorder;
            fillDisk(filler);
            passed = updateFunc(context, image_, kImagePath);
            ::unlink(filler.c_str());
            passed = updateFunc(context, image_, kImagePath) && passed;
        }
        std::vector<std::string> results;
        for (const HistoryRecord& row : rowsOf(path)) results.push_back(row.result);
        for (const std::string& line : problems_) std::fprintf(stderr, "told: %s\n", line.c_str());
        const bool told =
            problems_.size() == 2 && problems_[0].find("full") != std::string::npos &&
            problems_[1].find("written again; 1 run records kept meanwhile written") != std::string::npos;
        return passed && told && results == std::vector<std::string>{"success", "success"} ? 0 : 1;
    });
    if (end.exitStatus == kNoFileSystemOfItsOwn) GTEST_SKIP() << "no mount namespace of its own here";
    EXPECT_EQ(end.exitStatus, std::optional<int>(0));
}

// Runs on two hubs at once, each on a worker of its own with a connection pinned
// to its port, recorded by one recorder.
// Whether this process holds a POSIX lock (SQLite's own) on the file at path.
bool holdsALockOn(const std::string& path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0) return false;
    std::ifstream locks("/proc/locks");
    const std::string pid = " " + std::to_string(::getpid()) + " ";
    const std::string inode = ":" + std::to_string(file.st_ino) + " ";
    for (std::string line; std::getline(locks, line);) {
        if (line.find("POSIX") != std::string::npos && line.find(pid) != std::string::npos &&
            line.find(inode) != std::string::npos)
            return true;
    }
    return false;
}

// A station on its own file opens the serial counter's connection first; the
// recorder then shares the file and must never open and close it beside that
// connection: closing any descriptor of the file drops every POSIX lock this
// process holds on it, SQLite's included, and another process would then
// checkpoint and delete the write-ahead log under the station.
TEST_F(RunRecorderTest, RecordingBesideTheSerialCounterKeepsItsLocksOnTheFile) {
    std::string error;
    std::unique_ptr<history::SerialCounter> counter =
        history::SerialCounter::open(path_, FolderCreation::MustExist, error);
    ASSERT_TRUE(counter) << error;
    ASSERT_TRUE(counter->beginStation("bench", error)) << error;
    ASSERT_TRUE(holdsALockOn(path_));
    ASSERT_TRUE(updateFunc(recorded(), image_, kImagePath));
    EXPECT_EQ(onlyRow().result, "success");
    EXPECT_TRUE(holdsALockOn(path_));
    EXPECT_TRUE(counter->endStation("bench", error)) << error;
}

class RunRecorderThreadsTest : public ::testing::Test {
protected:
    SimulatedHubs rig_;
    sim::SimulatedUsbPlatform platform_{rig_.bus};
    ScratchFolder scratch_{"velmora-recorder"};
    std::string path_ = scratch_.path("history.sqlite");
};

TEST_F(RunRecorderThreadsTest, ParallelRunsEachGetTheirOwnRow) {
    const std::vector<std::string> ports = {"1-1", "1-2", "1-3", "1-4"};
    for (const std::string& port : ports) {
        RigHubOptions options;
        options.portPath = port;
        rig_.addHub(options);
    }
    RunRecorder recorder(path_, FolderCreation::MustExist, rig_.clock, {});
    const std::vector<std::uint8_t> bytes = rig_.sampleImage(8192, 0x0304);
    FirmwareBuffer image;
    FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    std::vector<std::thread> workers;
    std::vector<int> results(ports.size(), -1);
    for (std::size_t index = 0; index < ports.size(); ++index) {
        workers.emplace_back([&, index] {
            HubConnection connection(platform_, rig_.table, rig_.clock, ports[index]);
            RecordingReporter reporter;
            WorkflowContext context{reporter, connection, nullptr, nullptr, &recorder};
            results[index] = updateFunc(context, image, kImagePath) ? 1 : 0;
        });
    }
    for (std::thread& worker : workers) worker.join();

    EXPECT_EQ(results, std::vector<int>(ports.size(), 1));
    std::vector<std::string> recordedPorts;
    for (const HistoryRecord& row : rowsOf(path_)) {
        EXPECT_EQ(row.result, "success");
        EXPECT_EQ(row.versionAfter, "0304");
        recordedPorts.push_back(row.port);
    }
    std::sort(recordedPorts.begin(), recordedPorts.end());
    EXPECT_EQ(recordedPorts, ports);
}

}  // namespace
}  // namespace velmora::testing
