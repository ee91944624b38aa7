#include "cli/Doctor.h"

#include <algorithm>
#include <memory>

#include "app/Hex.h"
#include "app/Json.h"
#include "app/PrintableText.h"
#include "app/TextAppend.h"
#include "app/TextFormat.h"
#include "cli/CliText.h"
#include "cli/HubSession.h"
#include "device/LockHolder.h"
#include "device/VendorCommands.h"
#include "driver_install/BootArgsSnapshot.h"
#include "driver_install/HubAccess.h"
#include "driver_install/RestartPrompt.h"
#include "host/LogindInhibitor.h"

namespace velmora::cli {
namespace {

namespace fs = std::filesystem;

// The load takes the hubs attached from whatever holds them and opens their nodes
// to the seat's user: no replug is needed.
constexpr const char* kLoadHint = "run 'velmora-cli driver load'";
constexpr const char* kSimulatedHub = "not needed for the simulated hub";
// After a hub that is not ready: how to hand us what it said.
constexpr const char* kReportHint =
    "to report a hub that fails: run the failing command again with --record FILE and attach FILE "
    "(README, \"Reporting a problem\")";
constexpr const char* kNoHub = "no supported hub is attached (the configuration's VID and product IDs)";

// What opening the hub told: the ground truth of whether an update can start.
struct OpenResult {
    bool opened = false;
    std::optional<HubStatus> hubStatus;  // none: the hub did not answer
    IOReturn status = kIOReturnSuccess;
    bool busy = false;        // another run holds the hub's port lock
    std::string lockProblem;  // the lock file itself is unusable
};

OpenResult openAndRead(HubSession& session, const std::string& port) {
    OpenResult result;
    std::unique_ptr<HubConnection> connection = session.connectionTo(port);
    result.opened = connection->openHub();
    result.status = connection->lastOpenFailure().status;
    result.busy = connection->refusedAsBusy();
    result.lockProblem = connection->lastOpenFailure().lockProblem;
    if (result.opened) result.hubStatus = VC_ReadHubStatus(*connection);
    connection->closeHub();
    return result;
}

DoctorCheck nodeCheck(const UsbDeviceInfo& device) {
    const fs::path relative = driver::deviceNodePath(device.platformKey);
    if (relative.empty()) return {"device node", CheckState::Warning, "the platform names no device node"};
    const std::string node = (fs::path("/") / relative).string();
    switch (driver::nodeAccess(node)) {
        case driver::NodeAccess::Usable:
            return {"device node", CheckState::Ok, node + " can be read and written by this user"};
        case driver::NodeAccess::Missing:
            return {"device node", CheckState::Failed, node + " is missing: plug the hub in again"};
        case driver::NodeAccess::NotPermitted: break;
    }
    return {"device node", CheckState::Failed,
            "this user cannot open " + node + ": " + kLoadHint +
                " (it installs the access rule), or run as root"};
}

DoctorCheck ruleCheck(const UsbDeviceInfo& device) {
    const std::string rule = std::string("/") + driver::kAccessRuleFile;
    const std::string ids = hexIds(device.vendorId, device.productId);
    switch (driver::accessRuleFor(device.vendorId, device.productId)) {
        case driver::AccessRule::ListsHub:
            return {"access rule", CheckState::Ok, rule + " lets the seat's user open " + ids};
        case driver::AccessRule::OtherHubs:
            return {"access rule", CheckState::Warning,
                    rule + " does not list " + ids + ": " + kLoadHint + " with this configuration"};
        case driver::AccessRule::Missing: break;
    }
    return {"access rule", CheckState::Warning, rule + " is not installed: " + kLoadHint};
}

std::string holderName(const driver::HubDriver& bound) {
    switch (bound.kind) {
        case driver::HubDriverKind::Brennic: return "Brennic";
        case driver::HubDriverKind::None: return "no driver";
        case driver::HubDriverKind::HubDriver: return "the hub driver";
        case driver::HubDriverKind::Other: break;
    }
    return "the driver '" + printableText(bound.name) + "'";
}

// halves: what holds the hub's other half, when it has one, said after "the hub".
DoctorCheck holderCheck(const driver::HubDriver& bound, const std::string& halves) {
    const std::string held = holderName(bound) + " holds the hub" + halves;
    switch (bound.kind) {
        case driver::HubDriverKind::Brennic:
            return {"kernel driver", CheckState::Ok, held + " for the update"};
        case driver::HubDriverKind::None:
            return {"kernel driver", CheckState::Ok, "none holds the hub" + halves};
        case driver::HubDriverKind::HubDriver:
        case driver::HubDriverKind::Other: break;
    }
    return {"kernel driver", CheckState::Failed, held + ": " + kLoadHint};
}

// The update goes through the hub's SuperSpeed half; the holder of its other half
// is named beside it.
DoctorCheck driverCheck(const UsbDeviceInfo& device) {
    const driver::HubDriver bound = driver::hubDriverOf(device.portPath);
    std::string halves;
    if (!device.highSpeedHalfPortPath.empty()) {
        const driver::HubDriver other = driver::hubDriverOf(device.highSpeedHalfPortPath);
        const std::string half = "its High-Speed half " + device.highSpeedHalfPortPath;
        halves = other.kind == bound.kind && other.name == bound.name
                     ? " (and " + half + ")"
                     : " (" + half + ": " + holderName(other) + ")";
    }
    return holderCheck(bound, halves);
}

DoctorCheck moduleCheck(const UsbDeviceInfo& device) {
    const std::optional<std::string> ids = driver::loadedModuleIds();
    const std::string hub = hexIds(device.vendorId, device.productId);
    if (!ids) return {"module", CheckState::Warning, std::string("Brennic is not loaded: ") + kLoadHint};
    const std::string held = ids->empty() ? "no hub" : printableText(*ids);
    if (!driver::moduleIdsList(*ids, device.vendorId, device.productId)) {
        return {"module", CheckState::Warning,
                "Brennic is loaded for " + held + ", not for " + hub + ": " + kLoadHint +
                    " with this configuration"};
    }
    return {"module", CheckState::Ok, "Brennic is loaded for " + held};
}

DoctorCheck signatureCheck(HubSession& session) {
    if (!session.needSignDriver()) return {"module signing", CheckState::Ok, "not enforced"};
    std::string snapshot;
    if (session.privateFolder()) {
        snapshot = driver::readBootArgsSnapshot(*session.privateFolder() / driver::kSnapshotFileName);
    }
    if (snapshot.find(driver::kSigningKeyEnrolledSetting) != std::string::npos) {
        return {"module signing", CheckState::Ok, "enforced; the driver's signing key is enrolled"};
    }
    return {"module signing", CheckState::Warning,
            "enforced (Secure Boot) and the driver's signing key is not enrolled: 'velmora-cli driver load' "
            "signs the driver and queues its key; restart, enrol it, then load the driver again"};
}

// A hub the simulated bus refuses to open is held by another driver in its model.
DoctorCheck simulatedDriverCheck(const OpenResult& open) {
    if (!open.opened && !open.busy && open.status == kIOReturnExclusiveAccess) {
        return {"kernel driver", CheckState::Failed,
                std::string("another driver holds the hub: ") + kLoadHint};
    }
    return {"kernel driver", CheckState::Ok, "none holds the simulated hub"};
}

DoctorCheck lockCheck(const UsbDeviceInfo& device, const OpenResult& open, bool simulated) {
    if (open.busy) {
        std::string holder = "another run";
        if (!simulated) {
            if (const auto found = findLockHolder(portLockFile(device.portPath)))
                holder = lockHolderText(*found);
        }
        return {"lock", CheckState::Failed, holder + " holds the hub: let it finish, or end it"};
    }
    if (!open.lockProblem.empty()) {
        return {"lock", CheckState::Failed,
                "the hub's lock file cannot be used: " + printableText(open.lockProblem)};
    }
    return {"lock", CheckState::Ok, "no other run holds the hub"};
}

DoctorCheck codeCheck(const OpenResult& open) {
    if (open.hubStatus) {
        const std::string version = hubVersionText(open.hubStatus->firmwareVersion);
        std::string text;
        if (open.hubStatus->flashCode)
            return {"code", CheckState::Ok, appendText(text, {"flash code, firmware version ", version})};
        return {"code", CheckState::Ok,
                appendText(text,
                           {"ROM code (version ", version,
                            "): no firmware runs; an update writes one, or `velmora-cli recover` writes back "
                            "the flash kept before the run that left it so"})};
    }
    if (open.opened) {
        return {"code", CheckState::Failed, "the hub does not answer the status request: plug it in again"};
    }
    if (open.busy || !open.lockProblem.empty())
        return {"code", CheckState::Failed, "not read: the hub was not opened"};
    if (open.status == kIOReturnExclusiveAccess) {
        return {
            "code", CheckState::Failed,
            "not read: the hub could not be opened (another driver holds it, or this user may not open it)"};
    }
    return {
        "code", CheckState::Failed,
        "not read: the hub could not be opened (status " + statusText(open.status) + "): plug it in again"};
}

// Whether an update can hold the machine off while it writes a flash: logind's
// answer to the lock a run would ask for, taken and let go at once.
DoctorCheck inhibitorCheck(bool simulated) {
    constexpr const char* kName = "inhibitor";
    if (simulated) return {kName, CheckState::Ok, "none taken for the simulated hubs"};
    const host::InhibitorLock lock =
        host::takeInhibitor({}, "velmora-cli doctor: may an update hold sleep off");
    if (lock.mode() == host::InhibitMode::Block) {
        return {kName, CheckState::Ok,
                "an update blocks sleep, shutdown and the power and lid keys while it writes a flash"};
    }
    if (lock.mode() == host::InhibitMode::Delay) {
        return {kName, CheckState::Warning,
                "an update only delays sleep and shutdown while it writes a flash (" + lock.problem() +
                    "): run it at the machine's own seat, or as root, to block them"};
    }
    return {kName, CheckState::Warning,
            "nothing holds sleep or shutdown off while an update writes a flash: " + lock.problem()};
}

DoctorHub examine(HubSession& session, const UsbDeviceInfo& device, bool simulated) {
    DoctorHub hub{device.portPath, device.vendorId, device.productId, {}};
    const OpenResult open = openAndRead(session, device.portPath);
    if (simulated) {
        hub.checks = {{"device node", CheckState::Ok, "none needed: a simulated hub"},
                      {"access rule", CheckState::Ok, kSimulatedHub},
                      simulatedDriverCheck(open),
                      {"module", CheckState::Ok, kSimulatedHub},
                      {"module signing", CheckState::Ok, kSimulatedHub}};
    } else {
        hub.checks = {nodeCheck(device), ruleCheck(device), driverCheck(device), moduleCheck(device),
                      signatureCheck(session)};
    }
    hub.checks.push_back(lockCheck(device, open, simulated));
    hub.checks.push_back(codeCheck(open));
    return hub;
}

const char* stateWord(CheckState state) {
    switch (state) {
        case CheckState::Ok: return "OK";
        case CheckState::Warning: return "WARN";
        case CheckState::Failed: break;
    }
    return "FAIL";
}

const char* stateKey(CheckState state) {
    switch (state) {
        case CheckState::Ok: return "ok";
        case CheckState::Warning: return "warning";
        case CheckState::Failed: break;
    }
    return "failed";
}

void printChecks(std::ostream& out, const std::vector<DoctorCheck>& checks) {
    for (const DoctorCheck& check : checks) {
        out << formatText("  %-15s %-4s  ", (check.name + ":").c_str(), stateWord(check.state)) << check.text
            << '\n';
    }
}

void printText(std::ostream& out, const std::vector<DoctorCheck>& machine,
               const std::vector<DoctorHub>& hubs) {
    out << "this machine\n";
    printChecks(out, machine);
    if (hubs.empty()) out << kNoHub << '\n';
    for (const DoctorHub& hub : hubs) {
        out << hub.port << "  " << hexIds(hub.vendorId, hub.productId) << '\n';
        printChecks(out, hub.checks);
        out << (hub.ready() ? "  ready for an update\n" : "  not ready for an update\n");
    }
    if (std::any_of(hubs.begin(), hubs.end(), [](const DoctorHub& hub) { return !hub.ready(); }))
        out << kReportHint << '\n';
}

JsonDocument checksJson(const std::vector<DoctorCheck>& checks) {
    JsonDocument list = JsonDocument::array();
    for (const DoctorCheck& check : checks)
        list.push_back({{"check", check.name}, {"state", stateKey(check.state)}, {"text", check.text}});
    return list;
}

void printJson(std::ostream& out, const std::vector<DoctorCheck>& machine, const std::vector<DoctorHub>& hubs,
               bool allReady) {
    JsonDocument report = {{"ready", allReady}, {"hubs", JsonDocument::array()}};
    for (const DoctorHub& hub : hubs) {
        report["hubs"].push_back({{"port", hub.port},
                                  {"vid", hexText(hub.vendorId, 4)},
                                  {"pid", hexText(hub.productId, 4)},
                                  {"ready", hub.ready()},
                                  {"checks", checksJson(hub.checks)}});
    }
    if (hubs.empty()) report["text"] = kNoHub;
    report["machine"] = checksJson(machine);
    out << asciiJson(std::move(report)) << '\n';
}

}  // namespace

bool DoctorHub::ready() const {
    return std::none_of(checks.begin(), checks.end(),
                        [](const DoctorCheck& check) { return check.state == CheckState::Failed; });
}

ExitStatus runDoctor(const CommandContext& command) {
    if (!command.arguments.empty()) {
        const std::string& extra = command.arguments[0];
        return command.fail(ExitStatus::BadUsage, extra.rfind("-", 0) == 0
                                                      ? text::unknownOption("doctor", extra)
                                                      : text::unexpectedArgument("doctor", extra));
    }
    std::string error;
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    std::vector<DoctorHub> hubs;
    for (const UsbDeviceInfo& device : session->platform().listDevices()) {
        if (session->config().table.IsSupportedHub(device.vendorId, device.productId)) {
            hubs.push_back(examine(*session, device, command.options.simulate));
        }
    }
    const bool allReady = !hubs.empty() && std::all_of(hubs.begin(), hubs.end(),
                                                       [](const DoctorHub& hub) { return hub.ready(); });
    // Checks of the machine, whatever hub is attached; none of them stops an update.
    const std::vector<DoctorCheck> machine{inhibitorCheck(command.options.simulate)};
    if (command.options.json) {
        printJson(command.streams.out, machine, hubs, allReady);
    } else {
        printText(command.streams.out, machine, hubs);
    }
    return allReady ? ExitStatus::Success : ExitStatus::WorkflowFailed;
}

}  // namespace velmora::cli
