// The one gate every hub command and every output passes: HubEnvironment::admitPlan.
// A plan is judged whole, before a hub is touched or a file written, by three
// rules in this order: the hubs it acts on, the bytes it writes into them, the
// files it writes. The first rule broken is the plan's one reason.
#include <sys/stat.h>

#include "app/OutputFiles.h"
#include "app/SafeFile.h"
#include "environment/HubEnvironment.h"
#include "environment/HubListing.h"
#include "environment/PlanAdmission.h"
#include "workflows/ScalarUpdate.h"

namespace velmora {
namespace {

constexpr const char* kInputRole = "a file this run reads or writes";

// Hubs: a command meant for one hub never takes one of several by the bus's order.
// The ports the plan acts on, or a refusal naming those attached.
std::optional<std::string> hubsRefusal(HubEnvironment& environment, const RunPlan& plan,
                                       std::vector<std::string>& ports) {
    switch (plan.hubs) {
        case PlanHubs::NamedPorts: ports = plan.ports; return std::nullopt;
        case PlanHubs::AllHubs: ports = environment.supportedPorts(); return std::nullopt;
        case PlanHubs::TheOneHub: {
            const OneHubChoice one = environment.chooseOneHub(std::nullopt);
            if (one.refused()) {
                ports = one.severalAttached;
                return severalHubsAttached(ports);
            }
            ports.clear();
            if (one.port) ports.push_back(*one.port);
            return std::nullopt;
        }
        case PlanHubs::None:
        case PlanHubs::EachListed:
        case PlanHubs::EachArriving: return std::nullopt;
    }
    return std::nullopt;
}

// Bytes: an image file passes the image admission for its use, and what it
// admitted is what the run writes. A backup's bytes are judged where they are
// chosen (restore, recover), by admitBackupBytes.
std::optional<std::string> bytesRefusal(const HubEnvironment& environment, const RunPlan& plan,
                                        std::optional<ImageAdmission>& image) {
    switch (plan.bytes.source) {
        case BytesSource::ImageFile:
            image = environment.admitImage(plan.bytes.path, plan.bytes.use, plan.bytes.allowNewIds);
            if (!image->admitted()) return image->reason;
            return std::nullopt;
        case BytesSource::Backup: return admitBackupBytes(environment, plan.bytes);
        case BytesSource::None:
        case BytesSource::Erased: return std::nullopt;
    }
    return std::nullopt;
}

// An input that is there but no regular file (a FIFO, a device) would hold the
// run on its first read, or be read forever.
std::optional<std::string> unreadableInput(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return std::nullopt;
    if (S_ISDIR(info.st_mode)) return path + " is a folder, not a file";
    return path + " is " + fileKindName(info.st_mode) + ", not a regular file";
}

// Files: every input a regular file; no output one of the files the run depends
// on, nor another user's as root.
std::optional<std::string> filesRefusal(const HubEnvironment& environment, const RunPlan& plan) {
    for (const std::string& input : plan.reads)
        if (std::optional<std::string> refusal = unreadableInput(input))
            return plan.command + ": " + *refusal;
    std::vector<GuardedPath> guarded = environment.guardedFiles();
    if (plan.keeps.recording) guarded.push_back({*plan.keeps.recording, "this run's recording"});
    for (const std::string& input : plan.reads) guarded.push_back({input, kInputRole});
    for (const PlannedOutput& output : plan.writes) {
        // Two outputs of one run must not be one file either.
        std::vector<GuardedPath> others = guarded;
        for (const PlannedOutput& other : plan.writes)
            if (&other != &output) others.push_back({other.path, kInputRole});
        if (std::optional<std::string> refusal = outputRefusal(output.path, others))
            return plan.command + ": " + *refusal + "; write to a file of its own";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> admitBackupBytes(const HubEnvironment&, const PlannedBytes&) {
    // Which backup a rollback writes is known only once it is chosen (--last
    // reads the history); its bytes then pass admitWrittenBytes there, restore's
    // and recover's alike, before the hub is touched.
    return std::nullopt;
}

RunPlan keptPlan(const HubEnvironment& environment, const std::string& command, PlanHubs hubs) {
    RunPlan plan;
    plan.command = command;
    plan.hubs = hubs;
    const EnvironmentOptions& options = environment.options();
    plan.keeps.backups = options.keepBackups;
    plan.keeps.history = options.keepHistory && !environment.replays();
    plan.keeps.recording = options.recording.recordPath;
    return plan;
}

PlanVerdict HubEnvironment::admitPlan(const RunPlan& plan) {
    PlanVerdict verdict;
    if (std::optional<std::string> refusal = hubsRefusal(*this, plan, verdict.ports)) {
        verdict.refusal = PlanRefusal::Hubs;
        verdict.reason = std::move(*refusal);
    } else if (std::optional<std::string> bytes = bytesRefusal(*this, plan, verdict.image)) {
        verdict.refusal = PlanRefusal::Bytes;
        verdict.reason = std::move(*bytes);
    } else if (std::optional<std::string> files = filesRefusal(*this, plan)) {
        verdict.refusal = PlanRefusal::Files;
        verdict.reason = std::move(*files);
    }
    return verdict;
}

std::vector<GuardedPath> HubEnvironment::guardedFiles() const {
    std::vector<GuardedPath> guarded{{configPath_, "this run's configuration"}};
    if (!config_.fwbinPath.empty())
        guarded.push_back(
            {scalarImagePath({configFolder(), config_.fwbinPath}), "the scalar run's image (FwBin)"});
    const std::string history = historyTarget().localPath;
    if (!history.empty()) {
        guarded.push_back({history, "this run's history"});
        guarded.push_back({history + "-wal", "the history's write-ahead log"});
        guarded.push_back({history + "-shm", "the history's shared-memory index"});
        guarded.push_back({history + "-journal", "the history's rollback journal"});
    }
    guarded.push_back({backupsFolder(), "the backup store", true});
    if (options_.recording.replayPath)
        guarded.push_back({*options_.recording.replayPath, "the recording this run replays"});
    return guarded;
}

}  // namespace velmora
