#include "cli/BackupCommands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Hex.h"
#include "app/Json.h"
#include "app/PrintableText.h"
#include "app/SafeFile.h"
#include "app/Sha256.h"
#include "app/TextFormat.h"
#include "backups/BackupStore.h"
#include "cli/CliText.h"
#include "cli/CommandPlan.h"
#include "cli/HubSelection.h"
#include "cli/HubSession.h"
#include "device/FlashOperations.h"
#include "environment/HubListing.h"
#include "environment/HubRecovery.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashVerify.h"
#include "workflows/RunIds.h"
#include "workflows/RunOrigin.h"

namespace velmora::cli {
namespace {

bool takeFlag(std::vector<std::string>& words, const std::string& flag) {
    const auto end = std::remove(words.begin(), words.end(), flag);
    const bool found = end != words.end();
    words.erase(end, words.end());
    return found;
}

// One --port at most; the rest of the words unchanged.
bool takeOnePort(std::vector<std::string>& words, const std::string& name, std::optional<std::string>& port,
                 std::string& error) {
    HubSelection selection;
    if (!takeHubSelection(words, name, false, selection, error)) return false;
    if (selection.ports.size() > 1) {
        error = name + " takes one --port";
        return false;
    }
    if (!selection.ports.empty()) port = selection.ports.front();
    return true;
}

bool oneArgument(const std::vector<std::string>& words, const std::string& name, const std::string& what,
                 std::string& error) {
    if (words.size() == 1 && words[0].rfind("-", 0) != 0) return true;
    if (words.empty()) {
        error = name + ": missing " + what;
    } else {
        error = name + ": unexpected " + (words.size() == 1 ? words[0] : words[1]);
    }
    return false;
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The plan of a command that takes at most one --port.
RunPlan planOnPort(const CommandContext& command, const std::string& name,
                   const std::optional<std::string>& port) {
    HubSelection selection;
    if (port) selection.ports = {*port};
    return commandPlan(command, name, selection);
}

// Every entry with the origin of its hub: a bench's backups are listed beside a
// real hub's, and told apart (a real hub's line ends with its result alone).
void printEntries(const CommandContext& command, const std::vector<backups::BackupEntry>& entries) {
    std::ostream& out = command.streams.out;
    if (command.options.json) {
        JsonDocument listed = JsonDocument::array();
        for (const backups::BackupEntry& entry : entries)
            listed.push_back({{"time", entry.time},
                              {"port", entry.port},
                              {"ids", entry.hubIds},
                              {"version", entry.version},
                              {"serial", entry.serial},
                              {"sha256", entry.sha256},
                              {"run", entry.runId},
                              {"result", entry.result},
                              {"origin", originNameOfStored(entry.origin)}});
        out << asciiJson(std::move(listed)) << '\n';
        return;
    }
    for (const backups::BackupEntry& entry : entries) {
        // The index's texts came from hubs (a serial) and runs (a port): shown printable.
        const auto orDash = [](const std::string& value) {
            return value.empty() ? std::string("-") : printableText(value);
        };
        out << orDash(entry.time) << "  " << orDash(entry.port) << "  " << orDash(entry.hubIds) << "  "
            << orDash(entry.version) << "  " << orDash(entry.serial) << "  "
            << orDash(entry.sha256.substr(0, 12)) << "  " << orDash(entry.result);
        if (!entry.origin.empty()) out << " (" << printableText(originNameOfStored(entry.origin)) << ')';
        out << '\n';
    }
}

struct ChosenBackup {
    std::vector<std::uint8_t> bytes;
    std::string name;  // what the FW line and the record call it
    bool isFile = false;
    // The store's entry for these bytes (a file copied out of the store too):
    // where and from which unit they were taken.
    std::optional<backups::BackupEntry> entry;
};

// A bare run of 4 to 64 hex digits is a backup's SHA-256 prefix in the store,
// whatever lies in the working folder; a file is named with a slash ("./cceb").
bool namesStoredBackup(const std::string& choice) {
    return choice.size() >= 4 && choice.size() <= 64 && isHexDigits(choice);
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The store's latest entry for these contents, one taken on port first.
std::optional<backups::BackupEntry> entryFor(const std::vector<backups::BackupEntry>& entries,
                                             const std::string& sha256, const std::string& port) {
    std::optional<backups::BackupEntry> found;
    for (const backups::BackupEntry& entry : entries) {
        if (entry.sha256 != sha256) continue;
        if (!found || found->port != port || entry.port == port) found = entry;
    }
    return found;
}

std::optional<ChosenBackup> loadStored(const backups::BackupStore& store, const std::string& sha256,
                                       const std::vector<backups::BackupEntry>& entries,
                                       const std::string& port, std::string& error) {
    auto bytes = store.load(sha256, error);
    if (!bytes) return std::nullopt;
    return ChosenBackup{std::move(*bytes), store.folder() + "/" + sha256, false,
                        entryFor(entries, sha256, port)};
}

// --last: the backup a recovery of the hub on port would write back.
std::optional<ChosenBackup> lastBackup(HubEnvironment& environment, const std::string& port,
                                       const std::vector<backups::BackupEntry>& entries, std::string& error) {
    const std::optional<Rollback> rollback = environment.rollbackOn(port, error);
    if (!rollback) return std::nullopt;
    if (rollback->action == Rollback::Action::ResetOnly) {
        error =
            "restore --last: no run on " + port +
            " since its last pass left a broken flash; `velmora-cli recover` resets a hub left in ROM code";
        return std::nullopt;
    }
    if (rollback->action != Rollback::Action::WriteBackup) {
        error = "restore --last: no failed or unfinished run with a backup is recorded on " + port +
                " since its last pass; name a backup by its SHA-256 (see `velmora-cli backups`)";
        return std::nullopt;
    }
    return loadStored(environment.backupStore(), rollback->run.backupSha256, entries, port, error);
}

// A SHA-256 prefix of a kept backup of the store's origin (a bench's backups never
// stand for a real hub's, nor a real hub's for a bench's).
std::optional<ChosenBackup> storedBackup(const backups::BackupStore& store, const std::string& choice,
                                         const std::vector<backups::BackupEntry>& entries,
                                         const std::string& port, std::string& error) {
    const std::string prefix = lowered(choice);
    std::vector<std::string> matches;
    for (const backups::BackupEntry& entry : entries)
        if (entry.sha256.rfind(prefix, 0) == 0 &&
            std::find(matches.begin(), matches.end(), entry.sha256) == matches.end())
            matches.push_back(entry.sha256);
    if (matches.size() != 1) {
        error = matches.empty() ? "no backup starts with " + choice
                                : choice + " names more than one backup; give more of its digits";
        if (matches.empty() && std::filesystem::exists(choice))
            error += " (to write the file of that name, name it ./" + choice + ")";
        return std::nullopt;
    }
    return loadStored(store, matches.front(), entries, port, error);
}

std::optional<ChosenBackup> fileBackup(const std::string& choice,
                                       const std::vector<backups::BackupEntry>& entries,
                                       const std::string& port, std::string& error) {
    const std::optional<std::string> text = readRegularFile(choice, error);
    if (!text) {
        error = choice + ": " + error;
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes = bytesOf(*text);
    const std::string sha256 = sha256Hex(bytes.data(), bytes.size());
    const std::string base = std::filesystem::path(choice).filename().string();
    if (base.size() == 64 && isHexDigits(base, HexCase::Lower) && sha256 != base) {
        error = choice + " no longer matches its name";
        return std::nullopt;
    }
    return ChosenBackup{std::move(bytes), choice, true, entryFor(entries, sha256, port)};
}

std::optional<ChosenBackup> chooseBackup(HubEnvironment& environment, const std::string& choice,
                                         const std::string& port, std::string& error) {
    const backups::BackupStore& store = environment.backupStore();
    const std::optional<std::vector<backups::BackupEntry>> entries = store.own(error);
    if (!entries) return std::nullopt;
    if (choice == "--last") return lastBackup(environment, port, *entries, error);
    if (namesStoredBackup(choice)) return storedBackup(store, choice, *entries, port, error);
    return fileBackup(choice, *entries, port, error);
}

bool confirmed(const CommandContext& command, bool yes, const std::string& question, std::string& error) {
    if (yes) return true;
    if (::isatty(STDIN_FILENO) != 1) {
        error = "this writes the hub's flash: confirm with --yes";
        return false;
    }
    command.streams.err << question << " [y/N] ";
    command.streams.err.flush();
    std::string answer;
    std::getline(std::cin, answer);
    if (answer == "y" || answer == "Y" || answer == "yes") return true;
    error = "nothing written";
    return false;
}

}  // namespace

ExitStatus runVerify(const CommandContext& command) {
    std::vector<std::string> words = command.arguments;
    std::optional<std::string> port;
    std::string error;
    if (!takeOnePort(words, "verify", port, error) || !oneArgument(words, "verify", "the image FILE", error))
        return command.fail(ExitStatus::BadUsage, error);
    const std::optional<std::string> text = readRegularFile(words[0], error);
    if (!text) return command.fail(ExitStatus::BadUsage, words[0] + ": " + error);
    const std::vector<std::uint8_t> image = bytesOf(*text);
    if (image.empty() || image.size() > flash::kFlashPageBytes)
        return command.fail(ExitStatus::BadUsage, words[0] + " does not fit the hub's flash");
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    RunPlan plan = planOnPort(command, "verify", port);
    plan.reads = {words[0]};
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted)) return *refused;
    OneHub hub = connectOneHub(*session, "verify", port, false);
    if (!hub.refusal.empty()) return command.fail(ExitStatus::BadUsage, hub.refusal);
    TerminalReporter reporter(command.streams);
    beginWorkflow(reporter);
    const FlashComparison comparison =
        verifyFunc_FwFlash(session->workflowContext(reporter, *hub.connection), image);
    // The answer names the hub it is about: the one read, on its port.
    const std::string flash = "the flash of the hub on " + printableText(hub.port.value_or("?"));
    const std::string file = printableText(words[0]);
    if (comparison.equal()) {
        command.streams.out << flash << " holds " << file << '\n';
        return ExitStatus::Success;
    }
    if (comparison.read) {
        command.streams.out << formatText("%s differs from %s from 0x%05zX: %zu bytes differ\n",
                                          flash.c_str(), file.c_str(), *comparison.first,
                                          comparison.differing);
    }
    return ExitStatus::WorkflowFailed;
}

ExitStatus runBackups(const CommandContext& command) {
    std::vector<std::string> words = command.arguments;
    std::optional<std::string> port;
    std::string error;
    if (!takeOnePort(words, "backups", port, error)) return command.fail(ExitStatus::BadUsage, error);
    if (!words.empty()) return command.fail(ExitStatus::BadUsage, "backups: unexpected " + words[0]);
    const std::unique_ptr<HubEnvironment> environment = recordsEnvironment(command, error);
    if (!environment) return command.fail(ExitStatus::BadUsage, error);
    auto entries = environment->backupStore().list(error);
    if (!entries) return command.fail(ExitStatus::BadUsage, error);
    if (port) std::erase_if(*entries, [&port](const auto& entry) { return entry.port != *port; });
    printEntries(command, *entries);
    return ExitStatus::Success;
}

namespace {

// The bytes as the bytes rule admits them: a file as update admits an image (a
// blockless one only with --blank), a kept backup by the rule for written bytes.
std::optional<FirmwareBuffer> admitted(HubEnvironment& environment, const ChosenBackup& backup, bool blank,
                                       std::string& error) {
    // A file holding firmware is held to every rule of update's images, its
    // signature included, --blank or not.
    if (backup.isFile && (!blank || contentOf(backup.bytes) == BytesContent::Firmware)) {
        ImageAdmission admission = environment.admitImage(backup.name, ImageUse::Update);
        if (!admission.admitted()) {
            error = admission.reason;
            return std::nullopt;
        }
        // Read again by the admission: what was judged is what is written.
        if (admission.image.data != backup.bytes) {
            error = backup.name + " changed while it was read";
            return std::nullopt;
        }
        return std::move(admission.image);
    }
    BytesAdmission admission = environment.admitBytes({backup.name, backup.bytes, blank});
    if (admission.admitted()) return std::move(admission.image);
    error = admission.reason;
    return std::nullopt;
}

std::string orUnknown(const std::string& text) {
    return text.empty() ? std::string("unknown") : printableText(text);
}

// "the hub on 1-2 (flash 0102, serial 0042)"
std::string hubWords(const ListedHub& hub) {
    return "the hub on " + printableText(hub.device.portPath) + " (" + runCodeName(hub) + " " +
           listedVersionText(hub) + ", serial " + listedSerialText(hub.serial) + ")";
}

// "backup of 2026-12-09T13:02:11.000Z from 1-1 (version 0102, serial 0042)"
std::string backupWords(const ChosenBackup& backup) {
    if (!backup.entry) return printableText(backup.name);
    const backups::BackupEntry& entry = *backup.entry;
    return "the backup taken " + orUnknown(entry.time) + " on " + orUnknown(entry.port) + " (version " +
           orUnknown(entry.version) + ", serial " + orUnknown(entry.serial) + ")";
}

// A backup of another port or another unit (by the serial its flash gave it).
bool fromElsewhere(const ChosenBackup& backup, const ListedHub& hub) {
    if (!backup.entry) return false;
    if (backup.entry->port != hub.device.portPath) return true;
    return !backup.entry->serial.empty() && hub.serial && *hub.serial != backup.entry->serial;
}

std::optional<ListedHub> targetHub(HubEnvironment& environment, const std::optional<std::string>& port,
                                   std::string& error) {
    for (ListedHub& hub : listSupportedHubs(environment))
        if (!port || hub.device.portPath == *port || hub.device.highSpeedHalfPortPath == *port)
            return std::move(hub);
    error = port ? "no supported hub on port " + *port : "no supported hub is attached";
    return std::nullopt;
}

}  // namespace

ExitStatus runRestore(const CommandContext& command) {
    std::vector<std::string> words = command.arguments;
    const bool yes = takeFlag(words, "--yes");
    const bool blank = takeFlag(words, "--blank");
    std::optional<std::string> port;
    std::string error;
    if (!takeOnePort(words, "restore", port, error)) return command.fail(ExitStatus::BadUsage, error);
    const bool last = takeFlag(words, "--last");
    if (last && !words.empty()) return command.fail(ExitStatus::BadUsage, "restore: unexpected " + words[0]);
    if (!last && !oneArgument(words, "restore", "--last, a backup's SHA-256 or a FILE", error))
        return command.fail(ExitStatus::BadUsage, error);
    if (last && blank)
        return command.fail(ExitStatus::BadUsage,
                            "restore: --blank takes a backup named by its SHA-256 or a FILE, never --last");
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    HubEnvironment& environment = session->environment();
    RunPlan plan = planOnPort(command, "restore", port);
    plan.bytes = {BytesSource::Backup, last ? "--last" : words[0]};
    if (!last && std::filesystem::exists(words[0])) plan.reads = {words[0]};
    PlanVerdict verdict;
    if (const auto refused = refusePlan(command, environment, plan, verdict)) return *refused;
    // The plan was admitted: with none named, the one hub attached.
    const OneHubChoice one = environment.chooseOneHub(port);
    const std::optional<ListedHub> hub = targetHub(environment, one.port, error);
    if (!hub) return command.fail(ExitStatus::BadUsage, error);
    const std::optional<ChosenBackup> backup =
        chooseBackup(environment, last ? "--last" : words[0], hub->device.portPath, error);
    if (!backup) return command.fail(ExitStatus::BadUsage, error);
    const std::optional<FirmwareBuffer> image = admitted(environment, *backup, blank, error);
    if (!image) return command.fail(ExitStatus::BadUsage, error);
    if (fromElsewhere(*backup, *hub) && !port)
        return command.fail(ExitStatus::BadUsage, "restore: " + backupWords(*backup) + " is not from " +
                                                      hubWords(*hub) +
                                                      "; to write it there, name the hub with --port");
    std::string question = "write " + backupWords(*backup) + " to " + hubWords(*hub) + "?";
    if (!image->hasBlock()) question += " It holds no firmware: the hub will stay in its ROM code.";
    if (yes) command.streams.err << question << " (--yes)\n";
    if (!confirmed(command, yes, question, error)) return command.fail(ExitStatus::BadUsage, error);
    const std::unique_ptr<HubConnection> pinned = session->connectionTo(hub->device.portPath);
    HubConnection& connection = *pinned;
    TerminalReporter reporter(command.streams);
    beginWorkflow(reporter);
    const bool succeeded = updateFuncAs(session->workflowContext(reporter, connection), *image, backup->name,
                                        RunOperation::Restore, backup->name)
                               .succeeded;
    return succeeded ? ExitStatus::Success : ExitStatus::WorkflowFailed;
}

}  // namespace velmora::cli

namespace velmora::cli {

ExitStatus runRecover(const CommandContext& command) {
    std::vector<std::string> words = command.arguments;
    const bool yes = takeFlag(words, "--yes");
    std::optional<std::string> port;
    std::string error;
    if (!takeOnePort(words, "recover", port, error)) return command.fail(ExitStatus::BadUsage, error);
    if (!words.empty()) return command.fail(ExitStatus::BadUsage, "recover: unexpected " + words[0]);
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    // Every hub left in ROM code is looked at, or the one named.
    RunPlan plan = commandPlan(command, "recover", port ? PlanHubs::NamedPorts : PlanHubs::AllHubs);
    if (port) plan.ports = {*port};
    plan.bytes = {BytesSource::Backup, "the backup of the unfinished run"};
    PlanVerdict verdict;
    if (const auto refused = refusePlan(command, session->environment(), plan, verdict)) return *refused;
    const std::vector<std::string>& ports = verdict.ports;
    ExitStatus status = ExitStatus::Success;
    bool anyInRomCode = false;
    for (const std::string& hubPort : ports) {
        std::unique_ptr<HubConnection> connection = session->connectionTo(hubPort);
        TerminalReporter reporter(command.streams);
        std::string declined;
        const auto consent = [&](const RecoveryFinding& finding) {
            command.streams.out << recoveryFindingLine(finding) << '\n';
            command.streams.out.flush();
            if (!finding.writesFlash) return true;  // a reset or a read writes nothing
            if (!confirmed(command, yes, "write that backup back to the hub on " + hubPort + "?", declined))
                return false;
            beginWorkflow(reporter);
            return true;
        };
        const RecoveryResult result = session->environment().recoverHub(
            session->workflowContext(reporter, *connection), hubPort, consent);
        anyInRomCode = anyInRomCode || result.step != RecoveryStep::NotInRomCode;
        switch (result.step) {
            case RecoveryStep::NotInRomCode:
            case RecoveryStep::Written: break;
            case RecoveryStep::HeldTheImage:
                command.streams.out << hubPort
                                    << ": its flash holds that run's image whole; the run is recorded as "
                                       "finished, nothing written\n";
                break;
            case RecoveryStep::HeldTheBackup:
                command.streams.out << hubPort
                                    << ": its flash holds the backup from before that run: nothing written\n";
                break;
            case RecoveryStep::ExamineFailed:
                command.note(hubPort + ": its flash could not be read to tell what it holds" +
                             (result.problem.empty() ? std::string{} : ": " + result.problem));
                status = ExitStatus::WorkflowFailed;
                break;
            case RecoveryStep::Reset:
                command.streams.out << hubPort << ": runs its flash code again\n";
                break;
            case RecoveryStep::ResetFailed:
                command.streams.out << hubPort << ": did not come back in its flash code\n";
                status = ExitStatus::WorkflowFailed;
                break;
            case RecoveryStep::NoRunToRecover:
                command.streams.out << hubPort
                                    << ": runs its ROM code, but no failed or unfinished run with a backup "
                                    << "is recorded on this port: nothing written\n";
                status = ExitStatus::WorkflowFailed;
                break;
            case RecoveryStep::BackupUnusable:
                command.note(hubPort + ": " + result.problem);
                status = ExitStatus::WorkflowFailed;
                break;
            case RecoveryStep::Declined: return command.fail(ExitStatus::BadUsage, declined);
            case RecoveryStep::WriteFailed: status = ExitStatus::WorkflowFailed; break;
        }
    }
    if (!anyInRomCode) {
        command.streams.out << "no supported hub" << (port ? " on " + *port : std::string{})
                            << " is left in ROM code or by an unfinished run: nothing to recover\n";
        return ExitStatus::WorkflowFailed;
    }
    return status;
}

}  // namespace velmora::cli
