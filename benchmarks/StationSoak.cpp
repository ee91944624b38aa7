// A station that runs for weeks, in virtual time: UNITS units (default 100000)
// through one station on eight simulated hubs, each unit unplugged once it is done
// and plugged in again as the next, every unit with a serial number of its own
// and recorded in an SQLite history. After a warm-up the program's memory (its
// resident set) and its open files must not grow by 5% or more to the end, and
// the history must hold exactly one row per unit and one used number per pass.
// The warm-up lasts at least until the history has settled: its runs never
// pause, so its log is first checkpointed at the longest interval, and until then
// the log's index grows; and SQLite's page caches (2 MiB for each of the file's
// connections, the station's and the checkpoints') fill as the file grows.
//
//     build/benchmarks/velmora_station_soak [UNITS] [--with-listing]
//
// With --with-listing another process lists the history beside the station all
// along, as `velmora-cli history` run on the station's host does: it opens the
// file, reads every row and closes it again, over and over; each of its listings
// must succeed, and the station must keep every row.
//
// Prints the figures; exits 0 when every check holds, 1 otherwise. CTest runs it
// with 8000 units.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firmware/FirmwareBuffer.h"
#include "history/HistoryDatabase.h"
#include "history/LogCheckpointer.h"
#include "history/RunRecorder.h"
#include "history/SerialCounter.h"
#include "history/StationFile.h"
#include "production/Station.h"
#include "production/StationSerials.h"
#include "tests/support/HubRig.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SerialSettingsFor.h"

namespace {

using namespace velmora;

constexpr int kHubs = 8;
constexpr long kDefaultUnits = 100000;
constexpr double kMostGrowth = 0.05;
// How long an operator takes to swap a finished unit for the next one.
constexpr Milliseconds kSwapTime{600};
// A unit's row is written about ten times: the log is checkpointed for the first
// time after about 2000 units of a station that never pauses, and the page caches
// are full a few thousand units later.
constexpr long kUnitsToSettle = 2 * velmora::history::kMostWritesPerCheckpoint / 10 + 1000;

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    return 0;
}

long openFiles() {
    long count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(folder))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(folder);
    }
    return count - 1;  // the listing's own descriptor
}

struct Sample {
    long units = 0;
    long residentKiB = 0;
    long openFiles = 0;
};

// The operator: takes each finished unit off its port and plugs the next one in.
class Operator {
public:
    explicit Operator(testing::SimulatedHubs& hubs) : hubs_(hubs) {}

    void unitShown(const std::string& line) {
        const bool verdict =
            line.find(": PASS ") != std::string::npos || line.find(": FAIL ") != std::string::npos;
        if (!verdict) return;
        const std::string port = line.substr(0, line.find(' '));
        std::lock_guard lock(mutex_);
        finished_.push_back(port);
        ++shown_;
    }
    long shown() {
        std::lock_guard lock(mutex_);
        return shown_;
    }

    void run(const std::atomic<bool>& stop) {
        while (!stop) {
            std::deque<std::string> swapping;
            {
                std::lock_guard lock(mutex_);
                swapping.swap(finished_);
            }
            for (const std::string& port : swapping) hubs_.bus.unplug(port);
            hubs_.clock.sleepFor(kSwapTime);
            for (const std::string& port : swapping) hubs_.bus.plugIn(port);
            hubs_.clock.sleepFor(kStationLookInterval);
            // The virtual clock keeps every sleep for the tests that ask; not here.
            hubs_.clock.clearSleeps();
        }
    }

private:
    testing::SimulatedHubs& hubs_;
    std::mutex mutex_;
    std::deque<std::string> finished_;
    long shown_ = 0;
};

// Another process listing the history at path until stopped (SIGTERM), as a
// `history` command run again and again does: started before any thread of this
// one. It exits 0 when every listing succeeded, 1 when one failed (it says why).
volatile sig_atomic_t listingStopped = 0;  // the listing process's own: its SIGTERM came

pid_t startListing(const std::string& path) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    long listings = 0;
    ::signal(SIGTERM, [](int) { listingStopped = 1; });
    while (!listingStopped) {
        bool missing = false;
        std::string error;
        std::shared_ptr<velmora::history::StationFile> file =
            velmora::history::StationFile::openExisting(path, missing, error);
        if (file && !file->database().list({}, error)) file.reset();
        if (!file && !missing) {
            std::fprintf(stderr, "listing beside the station: %s\n", error.c_str());
            ::_exit(1);
        }
        listings += file != nullptr;
        file.reset();  // closed: the station's locks must hold through it
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf("listings beside the station: %ld, each succeeded\n", listings);
    std::fflush(stdout);
    ::_exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    bool withListing = false;
    if (argc > 1 && std::string(argv[argc - 1]) == "--with-listing") {
        withListing = true;
        --argc;
    }
    const long units = argc > 1 ? std::strtol(argv[1], nullptr, 10) : kDefaultUnits;
    if (units < 10) {
        std::fprintf(stderr, "usage: velmora_station_soak [UNITS, at least 10] [--with-listing]\n");
        return 2;
    }
    const long warmUp = std::max(units / 10, kUnitsToSettle);
    if (warmUp >= units) {
        std::fprintf(stderr, "velmora_station_soak: at least %ld units, past the warm-up\n", warmUp + 1);
        return 2;
    }
    velmora::testing::ScratchFolder folder("velmora-soak");
    const std::string historyPath = folder.path("history.sqlite");
    const pid_t listing = withListing ? startListing(historyPath) : -1;

    velmora::testing::SimulatedHubs hubs;
    for (int index = 1; index <= kHubs; ++index) {
        velmora::sim::SimulatedHubConfig config;
        config.vendorId = hubs.identity.vid;
        config.superSpeedProductId = hubs.identity.sspid;
        config.highSpeedProductId = hubs.identity.hspid;
        config.portPath = "1-" + std::to_string(index);
        // The model keeps no record of its requests: that would grow with every unit.
        config.keepRequests = false;
        hubs.bus.addHub(config).loadFlashImage(hubs.sampleImage());
    }
    velmora::sim::SimulatedUsbPlatform platform{hubs.bus};
    FirmwareBuffer image;
    const std::vector<std::uint8_t> bytes = hubs.sampleImage(8192, 0x0203);
    FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));

    std::string error;
    // One owner of the file, as a station has: the counter and the recorder share it.
    velmora::history::StationFileAccess file(historyPath, FolderCreation::MustExist);
    std::shared_ptr<velmora::history::StationFile> opened = file.open(error);
    if (!opened) {
        std::fprintf(stderr, "velmora_station_soak: %s\n", error.c_str());
        return 1;
    }
    velmora::history::SerialCounter counter(opened, RunOrigin::Real);
    StationSerials serials(counter,
                           velmora::testing::serialSettings("SOAK", 7, 1, kDefaultSerialBlock, "soak"));
    if (!serials.begin(error)) {
        std::fprintf(stderr, "velmora_station_soak: %s\n", error.c_str());
        return 1;
    }
    RunRecorder recorder(file, {}, hubs.clock,
                         [](const std::string& problem) { std::fprintf(stderr, "%s\n", problem.c_str()); });

    Operator line(hubs);
    std::vector<Sample> samples;
    std::mutex samplesMutex;
    StationContext context{hubs.clock,
                           platform,
                           hubs.table,
                           [&](const std::string& port) {
                               return std::make_unique<HubConnection>(platform, hubs.table, hubs.clock, port);
                           },
                           [&](const std::string& text) {
                               line.unitShown(text);
                               const long shown = line.shown();
                               if (shown == warmUp || shown == units) {
                                   std::lock_guard lock(samplesMutex);
                                   if (samples.empty() || samples.back().units != shown)
                                       samples.push_back({shown, residentKiB(), openFiles()});
                               }
                           },
                           &recorder,
                           nullptr,
                           nullptr,
                           &serials};
    std::atomic<int> interrupts{0};
    std::atomic<bool> stop{false};
    const auto started = std::chrono::steady_clock::now();
    {
        Station station(std::move(context), image, "/images/soak.bin",
                        {static_cast<int>(units), std::nullopt});
        hubs.clock.addWorkers(1);
        std::thread operatorThread([&] {
            hubs.clock.enterWorker();
            line.run(stop);
            hubs.clock.leaveWorker();
        });
        station.run(interrupts);
        station.waitForUnits();
        stop = true;
        operatorThread.join();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    int listingStatus = 0;
    if (listing > 0) {
        ::kill(listing, SIGTERM);
        ::waitpid(listing, &listingStatus, 0);
    }
    const auto rows = opened->database().list({}, error);
    const auto numbers = counter.numbers("SOAK", error);
    long used = 0;
    long passed = 0;
    long unfinished = 0;
    if (numbers)
        for (const auto& number : *numbers) used += number.state == "used";
    if (rows)
        for (const auto& row : *rows) {
            passed += row.result == velmora::history::kResultSuccess;
            unfinished += row.result == velmora::history::kResultUnfinished;
        }

    bool good = samples.size() == 2 && rows && numbers && listingStatus == 0;
    std::printf("units %ld in %.1f s real time, %.2f ms each\n", units, seconds, 1000.0 * seconds / units);
    if (samples.size() == 2) {
        const double memory =
            double(samples[1].residentKiB - samples[0].residentKiB) / samples[0].residentKiB;
        const double files = double(samples[1].openFiles - samples[0].openFiles) / samples[0].openFiles;
        std::printf("after %ld units: %ld KiB resident, %ld open files\n", samples[0].units,
                    samples[0].residentKiB, samples[0].openFiles);
        std::printf("after %ld units: %ld KiB resident (%+.1f%%), %ld open files (%+.1f%%)\n",
                    samples[1].units, samples[1].residentKiB, 100 * memory, samples[1].openFiles,
                    100 * files);
        good = good && memory < kMostGrowth && files < kMostGrowth;
    }
    if (rows && numbers) {
        std::printf("history: %zu rows, %ld passed, %ld unfinished; serial numbers: %ld used\n", rows->size(),
                    passed, unfinished, used);
        good = good && static_cast<long>(rows->size()) == units && used == passed && unfinished == 0;
    }
    if (!good) std::printf("FAILED %s\n", error.c_str());
    return good ? 0 : 1;
}
