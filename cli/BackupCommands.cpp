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
#include "app/SafeFile.h"
#include "app/Sha256.h"
#include "app/TextFormat.h"
#include "backups/BackupStore.h"
#include "cli/CommandPlan.h"
#include "cli/HubSelection.h"
#include "cli/HubSession.h"
#include "device/FlashOperations.h"
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

// The hub's connection: pinned to the port given, else the first supported hub.
// The plan of a command that takes at most one --port.
RunPlan planOnPort(const CommandContext& command, const std::string& name,
                   const std::optional<std::string>& port) {
    HubSelection selection;
    if (port) selection.ports = {*port};
    return commandPlan(command, name, selection);
}

HubConnection& connectionFor(HubSession& session, const std::optional<std::string>& port,
                             std::unique_ptr<HubConnection>& pinned) {
    if (port) pinned = session.connectionTo(*port);
    return pinned ? *pinned : session.connection();
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
        const auto orDash = [](const std::string& value) { return value.empty() ? std::string("-") : value; };
        out << entry.time << "  " << orDash(entry.port) << "  " << orDash(entry.hubIds) << "  "
            << orDash(entry.version) << "  " << orDash(entry.serial) << "  " << entry.sha256.substr(0, 12)
            << "  " << entry.result;
        if (!entry.origin.empty()) out << " (" << originNameOfStored(entry.origin) << ')';
        out << '\n';
    }
}

struct ChosenBackup {
    std::vector<std::uint8_t> bytes;
    std::string name;  // what the FW line and the record call it
};

// --last, a SHA-256 prefix of a kept backup of the store's origin (a bench's
// backups never stand for a real hub's, nor a real hub's for a bench's), or a
// file; nothing, with error.
std::optional<ChosenBackup> chooseBackup(const backups::BackupStore& store, const std::string& choice,
                                         const std::optional<std::string>& port, std::string& error) {
    const bool isPrefix = choice.size() >= 4 && choice.size() <= 64 && isHexDigits(choice);
    if (choice == "--last" || (isPrefix && !std::filesystem::exists(choice))) {
        const std::optional<std::vector<backups::BackupEntry>> entries = store.own(error);
        if (!entries) return std::nullopt;
        std::string prefix = choice;
        std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::vector<std::string> matches;
        for (const backups::BackupEntry& entry : *entries) {
            if (choice == "--last" ? (!port || entry.port == *port) : entry.sha256.rfind(prefix, 0) == 0) {
                if (std::find(matches.begin(), matches.end(), entry.sha256) == matches.end() ||
                    choice == "--last")
                    matches.push_back(entry.sha256);
            }
        }
        if (matches.empty()) {
            error = choice == "--last" ? "no backup kept" + (port ? " for port " + *port : std::string{})
                                       : "no backup starts with " + choice;
            return std::nullopt;
        }
        if (choice != "--last" && matches.size() > 1) {
            error = choice + " names more than one backup; give more of its digits";
            return std::nullopt;
        }
        auto bytes = store.load(matches.back(), error);
        if (!bytes) return std::nullopt;
        return ChosenBackup{std::move(*bytes), store.folder() + "/" + matches.back()};
    }
    const std::optional<std::string> text = readRegularFile(choice, error);
    if (!text) {
        error = choice + ": " + error;
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes = bytesOf(*text);
    const std::string base = std::filesystem::path(choice).filename().string();
    if (base.size() == 64 && isHexDigits(base, HexCase::Lower) &&
        sha256Hex(bytes.data(), bytes.size()) != base) {
        error = choice + " no longer matches its name";
        return std::nullopt;
    }
    if (bytes.empty() || bytes.size() > flash::kFlashPageBytes) {
        error = choice + " is not a flash backup (" + std::to_string(bytes.size()) + " bytes)";
        return std::nullopt;
    }
    return ChosenBackup{std::move(bytes), choice};
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
    std::unique_ptr<HubConnection> pinned;
    HubConnection& connection = connectionFor(*session, port, pinned);
    TerminalReporter reporter(command.streams);
    beginWorkflow(reporter);
    const FlashComparison comparison =
        verifyFunc_FwFlash(session->workflowContext(reporter, connection), image);
    if (comparison.equal()) {
        command.streams.out << "the flash holds " << words[0] << '\n';
        return ExitStatus::Success;
    }
    if (comparison.read) {
        command.streams.out << formatText("the flash differs from %s from 0x%05zX: %zu bytes differ\n",
                                          words[0].c_str(), *comparison.first, comparison.differing);
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

ExitStatus runRestore(const CommandContext& command) {
    std::vector<std::string> words = command.arguments;
    const bool yes = takeFlag(words, "--yes");
    std::optional<std::string> port;
    std::string error;
    if (!takeOnePort(words, "restore", port, error)) return command.fail(ExitStatus::BadUsage, error);
    const bool last = takeFlag(words, "--last");
    if (last && !words.empty()) return command.fail(ExitStatus::BadUsage, "restore: unexpected " + words[0]);
    if (!last && !oneArgument(words, "restore", "--last, a backup's SHA-256 or a FILE", error))
        return command.fail(ExitStatus::BadUsage, error);
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    RunPlan plan = planOnPort(command, "restore", port);
    plan.bytes = {BytesSource::Backup, last ? "--last" : words[0]};
    if (!last && std::filesystem::exists(words[0])) plan.reads = {words[0]};
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted)) return *refused;
    const std::optional<ChosenBackup> backup =
        chooseBackup(session->environment().backupStore(), last ? "--last" : words[0], port, error);
    if (!backup) return command.fail(ExitStatus::BadUsage, error);
    const std::string question =
        "write " + backup->name + " back to the hub" + (port ? " on " + *port : "") + "?";
    if (!confirmed(command, yes, question, error)) return command.fail(ExitStatus::BadUsage, error);
    std::unique_ptr<HubConnection> pinned;
    HubConnection& connection = connectionFor(*session, port, pinned);
    const FirmwareBuffer image = backupImage(backup->bytes);
    TerminalReporter reporter(command.streams);
    beginWorkflow(reporter);
    const bool succeeded = updateFuncAs(session->workflowContext(reporter, connection), image, backup->name,
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
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted)) return *refused;
    const std::vector<std::string>& ports = admitted.ports;
    ExitStatus status = ExitStatus::Success;
    bool anyInRomCode = false;
    for (const std::string& hubPort : ports) {
        std::unique_ptr<HubConnection> connection = session->connectionTo(hubPort);
        TerminalReporter reporter(command.streams);
        std::string declined;
        const auto consent = [&](const RecoveryFinding& finding) {
            command.streams.out << recoveryFindingLine(finding) << '\n';
            command.streams.out.flush();
            if (!finding.writesFlash) return true;  // a reset writes nothing
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
                            << " is left in ROM code: nothing to recover\n";
        return ExitStatus::WorkflowFailed;
    }
    return status;
}

}  // namespace velmora::cli
