#include "cli/BackupCommands.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/SafeFile.h"
#include "app/TextFormat.h"
#include "cli/HubSelection.h"
#include "cli/HubSession.h"
#include "cli/JsonText.h"
#include "device/FlashOperations.h"
#include "device/VendorCommands.h"
#include "history/BackupStore.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryFile.h"
#include "history/ImageDigest.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashVerify.h"

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

history::BackupStore backupStore() {
    return history::BackupStore(history::defaultBackupsFolder(), false);
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The hub's connection: pinned to the port given, else the first supported hub.
HubConnection& connectionFor(HubSession& session, const std::optional<std::string>& port,
                             std::unique_ptr<HubConnection>& pinned) {
    if (port) pinned = session.connectionTo(*port);
    return pinned ? *pinned : session.connection();
}

WorkflowContext contextFor(TerminalReporter& reporter, HubSession& session, HubConnection& connection) {
    return {reporter, connection, nullptr, &session.console(), &session.recorder(), session.backups()};
}

void printEntries(const CommandContext& command, const std::vector<history::BackupEntry>& entries) {
    std::ostream& out = command.streams.out;
    if (command.options.json) {
        out << '[';
        for (std::size_t index = 0; index < entries.size(); ++index) {
            const history::BackupEntry& entry = entries[index];
            out << (index == 0 ? "" : ", ") << "{\"time\": " << jsonString(entry.time)
                << ", \"port\": " << jsonString(entry.port) << ", \"ids\": " << jsonString(entry.hubIds)
                << ", \"version\": " << jsonString(entry.version)
                << ", \"serial\": " << jsonString(entry.serial)
                << ", \"sha256\": " << jsonString(entry.sha256) << ", \"run\": " << jsonString(entry.runId)
                << ", \"result\": " << jsonString(entry.result) << '}';
        }
        out << "]\n";
        return;
    }
    for (const history::BackupEntry& entry : entries) {
        const auto orDash = [](const std::string& value) { return value.empty() ? std::string("-") : value; };
        out << entry.time << "  " << orDash(entry.port) << "  " << orDash(entry.hubIds) << "  "
            << orDash(entry.version) << "  " << orDash(entry.serial) << "  " << entry.sha256.substr(0, 12)
            << "  " << entry.result << '\n';
    }
}

struct ChosenBackup {
    std::vector<std::uint8_t> bytes;
    std::string name;  // what the FW line and the record call it
};

// --last, a SHA-256 prefix of a kept backup, or a file; nothing, with error.
std::optional<ChosenBackup> chooseBackup(const std::string& choice, const std::optional<std::string>& port,
                                         std::string& error) {
    const history::BackupStore store = backupStore();
    const bool isPrefix = choice.size() >= 4 && choice.size() <= 64 &&
                          choice.find_first_not_of("0123456789abcdef") == std::string::npos;
    if (choice == "--last" || (isPrefix && !std::filesystem::exists(choice))) {
        const auto entries = store.list(error);
        if (!entries) return std::nullopt;
        std::vector<std::string> matches;
        for (const history::BackupEntry& entry : *entries) {
            if (choice == "--last" ? (!port || entry.port == *port) : entry.sha256.rfind(choice, 0) == 0) {
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
    if (!text) return std::nullopt;
    std::vector<std::uint8_t> bytes = bytesOf(*text);
    const std::string base = std::filesystem::path(choice).filename().string();
    if (base.size() == 64 && base.find_first_not_of("0123456789abcdef") == std::string::npos &&
        history::sha256Hex(bytes.data(), bytes.size()) != base) {
        error = choice + " no longer matches its name";
        return std::nullopt;
    }
    if (bytes.empty() || bytes.size() > flash::kFlashPageBytes) {
        error = choice + " is not a flash backup (" + std::to_string(bytes.size()) + " bytes)";
        return std::nullopt;
    }
    return ChosenBackup{std::move(bytes), choice};
}

// A backup is written back as it was, whether or not its flash held a block.
FirmwareBuffer bufferOf(const std::vector<std::uint8_t>& bytes) {
    FirmwareBuffer buffer;
    if (!FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()))) {
        buffer.data = bytes;
        buffer.size = static_cast<std::int32_t>(bytes.size());
        buffer.loaded = true;
    }
    return buffer;
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

// The words the pane uses for the step a run's record names.
std::string stepName(const std::string& phases) {
    const std::size_t start = phases.rfind(';') == std::string::npos ? 0 : phases.rfind(';') + 1;
    const std::string phase = phases.substr(start, phases.find('=', start) - start);
    if (phase == "open") return "Open Rom Device";
    if (phase == "backup") return "the backup";
    if (phase == "erase") return "Erase Flash";
    if (phase == "write") return "Write Flash";
    if (phase == "read") return "Read Flash";
    if (phase == "verify") return "Verify Flash";
    if (phase == "reset") return "Reset to Flash Code";
    return "its start";
}

// The ports of the supported hubs that run their ROM code now.
std::vector<std::string> portsInRomCode(HubSession& session, const std::optional<std::string>& port) {
    std::vector<std::string> found;
    const std::vector<std::string> ports =
        port ? std::vector<std::string>{*port} : session.environment().supportedPorts();
    for (const std::string& candidate : ports) {
        std::unique_ptr<HubConnection> connection = session.connectionTo(candidate);
        std::optional<HubStatus> status;
        if (connection->openHub()) status = VC_ReadHubStatus(*connection);
        connection->closeHub();
        if (status && !status->flashCode) found.push_back(candidate);
    }
    return found;
}

// The last run recorded on the port, when it ended failed or unfinished with a backup.
std::optional<history::HistoryRecord> runToRecover(const CliOptions& options, const std::string& port,
                                                   std::string& error) {
    const std::string path = options.historyPath.value_or(history::defaultHistoryPath());
    bool missing = false;
    if (path.empty() || !history::checkHistoryFile(path, missing, error) || missing) return std::nullopt;
    const auto database = history::HistoryDatabase::open(path, error);
    if (!database) return std::nullopt;
    auto runs = database->list({"", port, ""}, error);
    if (!runs) return std::nullopt;
    // Runs that wrote nothing (a read, a verify) say nothing of what the flash holds.
    std::erase_if(*runs, [](const history::HistoryRecord& run) {
        return run.operation == "read" || run.operation == "verify";
    });
    if (runs->empty() || runs->back().result == history::kResultSuccess || runs->back().backupSha256.empty())
        return std::nullopt;
    return runs->back();
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
    auto session = HubSession::open(command.options, command.streams.err, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    std::unique_ptr<HubConnection> pinned;
    HubConnection& connection = connectionFor(*session, port, pinned);
    TerminalReporter reporter(command.streams);
    beginWorkflow(reporter);
    const FlashComparison comparison = verifyFunc_FwFlash(contextFor(reporter, *session, connection), image);
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
    const history::BackupStore store = backupStore();
    if (!std::filesystem::exists(store.folder())) {
        printEntries(command, {});
        return ExitStatus::Success;
    }
    auto entries = store.list(error);
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
    const std::optional<ChosenBackup> backup = chooseBackup(last ? "--last" : words[0], port, error);
    if (!backup) return command.fail(ExitStatus::BadUsage, error);
    const std::string question =
        "write " + backup->name + " back to the hub" + (port ? " on " + *port : "") + "?";
    if (!confirmed(command, yes, question, error)) return command.fail(ExitStatus::BadUsage, error);
    auto session = HubSession::open(command.options, command.streams.err, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    std::unique_ptr<HubConnection> pinned;
    HubConnection& connection = connectionFor(*session, port, pinned);
    const FirmwareBuffer image = bufferOf(backup->bytes);
    TerminalReporter reporter(command.streams);
    beginWorkflow(reporter);
    const bool succeeded = updateFuncAs(contextFor(reporter, *session, connection), image, backup->name,
                                        "restore", backup->name);
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
    auto session = HubSession::open(command.options, command.streams.err, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    const std::vector<std::string> ports = portsInRomCode(*session, port);
    if (ports.empty()) {
        command.streams.out << "no supported hub" << (port ? " on " + *port : std::string{})
                            << " is left in ROM code: nothing to recover\n";
        return ExitStatus::WorkflowFailed;
    }
    const history::BackupStore store = backupStore();
    ExitStatus status = ExitStatus::Success;
    for (const std::string& hubPort : ports) {
        std::string problem;
        const std::optional<history::HistoryRecord> run = runToRecover(command.options, hubPort, problem);
        if (!run) {
            command.streams.out << hubPort
                                << ": runs its ROM code, but no failed or unfinished run with a backup "
                                << "is recorded on this port: nothing written\n";
            status = ExitStatus::WorkflowFailed;
            continue;
        }
        auto bytes = store.load(run->backupSha256, problem);
        if (!bytes) {
            command.note(hubPort + ": " + problem);
            status = ExitStatus::WorkflowFailed;
            continue;
        }
        const FirmwareBuffer image = bufferOf(*bytes);
        const std::string version = identityOf(image).version;
        const std::string time =
            run->started.size() >= 16 ? run->started.substr(11, 5) + " UTC" : run->started;
        command.streams.out << hubPort << ": left in ROM code by "
                            << (run->operation == "update" ? "an " : "a ") << run->operation << " at " << time
                            << " that stopped at " << stepName(run->phases)
                            << "; its backup from before holds version "
                            << (image.block && !version.empty() ? version : "unknown") << '\n';
        command.streams.out.flush();
        if (!confirmed(command, yes, "write that backup back to the hub on " + hubPort + "?", problem))
            return command.fail(ExitStatus::BadUsage, problem);
        std::unique_ptr<HubConnection> connection = session->connectionTo(hubPort);
        TerminalReporter reporter(command.streams);
        beginWorkflow(reporter);
        const std::string name = store.folder() + "/" + run->backupSha256;
        if (!updateFuncAs(contextFor(reporter, *session, *connection), image, name, "recover", name,
                          std::to_string(run->id)))
            status = ExitStatus::WorkflowFailed;
    }
    return status;
}

}  // namespace velmora::cli
