#include "cli/DeviceCommands.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "app/AtomicFile.h"
#include "app/Hex.h"
#include "app/Json.h"
#include "app/PrintableText.h"
#include "app/SafeFile.h"
#include "app/TextFormat.h"
#include "cli/CliText.h"
#include "cli/CommandPlan.h"
#include "cli/HubSelection.h"
#include "cli/HubSession.h"
#include "cli/ImageFile.h"
#include "detection/HubDetection.h"
#include "device/FlashOperations.h"
#include "device/VendorCommands.h"
#include "environment/HubListing.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashPage.h"
#include "workflows/ScalarUpdate.h"
#include "workflows/UnitSerial.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::cli {
namespace {

constexpr const char* kBlue = "\033[34m";
constexpr const char* kRed = "\033[31m";
constexpr const char* kPlain = "\033[0m";

// Checks that the command got exactly the arguments it takes.
bool expectArguments(const CommandContext& command, const std::string& name, std::size_t count,
                     const std::string& what, std::string& error) {
    if (command.arguments.size() < count) {
        error = text::missingArgument(name, what);
        return false;
    }
    if (command.arguments.size() > count) {
        const std::string& extra = command.arguments[count];
        error = extra.rfind("-", 0) == 0 ? text::unknownOption(name, extra)
                                         : text::unexpectedArgument(name, extra);
        return false;
    }
    return true;
}

std::unique_ptr<HubSession> openSession(const CommandContext& command, std::string& error) {
    return HubSession::open(command, error);
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// "read -": the bytes go to standard output, which must then not be a terminal.
bool writeToStandardOutput(const CommandContext& command, const std::vector<std::uint8_t>& bytes) {
    if (command.streams.outIsTerminal) {
        command.fail(ExitStatus::BadUsage, text::kBinaryToTerminal);
        return false;
    }
    command.streams.out.write(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<std::streamsize>(bytes.size()));
    command.streams.out.flush();
    if (!command.streams.out) {
        command.fail(ExitStatus::WorkflowFailed, text::cannotWrite(text::kStandardOutputName, "write error"));
        return false;
    }
    return true;
}

// With the image on standard output, every other line goes to standard error.
TerminalStreams statusStreams(const CommandContext& command, const std::string& outputPath) {
    if (outputPath != text::kStandardOutputName) return command.streams;
    const TerminalStreams& streams = command.streams;
    return {streams.err, streams.err, streams.errIsTerminal, streams.errIsTerminal};
}

constexpr const char* kAllowNewIds = "--allow-new-ids";
constexpr const char* kSerialOption = "--serial";

// Removes every occurrence of a flag from the command's arguments; true when it was there.
bool takeFlag(std::vector<std::string>& words, const std::string& flag) {
    const auto end = std::remove(words.begin(), words.end(), flag);
    const bool found = end != words.end();
    words.erase(end, words.end());
    return found;
}

// Removes "--serial TEXT" from the words: value set when it was there, false with
// error when it was given twice or without its text.
bool takeSerial(std::vector<std::string>& words, std::optional<std::string>& value, std::string& error) {
    for (auto word = words.begin(); word != words.end();) {
        if (*word != kSerialOption) {
            ++word;
            continue;
        }
        if (std::next(word) == words.end()) {
            error = text::missingValue(kSerialOption);
            return false;
        }
        if (value) {
            error = text::givenTwice("update", kSerialOption);
            return false;
        }
        value = *std::next(word);
        word = words.erase(word, std::next(word, 2));
    }
    return true;
}

JsonDocument hubInfoJson(const HubInfo& info) {
    const bool detected = info.colour == TextColour::Blue;
    return {{"detected", detected}, {"text", info.text}, {"colour", detected ? "blue" : "red"}};
}

void printHubInfo(const CommandContext& command, const HubInfo& info) {
    std::ostream& out = command.streams.out;
    if (command.options.json) {
        out << asciiJson(hubInfoJson(info)) << '\n';
    } else if (command.streams.outIsTerminal) {
        out << (info.colour == TextColour::Blue ? kBlue : kRed) << printableText(info.text, true) << kPlain
            << '\n';
    } else {
        out << printableText(info.text, true) << '\n';
    }
}

void printHubs(const CommandContext& command, const std::vector<ListedHub>& hubs) {
    std::ostream& out = command.streams.out;
    if (!command.options.json) {
        for (const ListedHub& hub : hubs) {
            out << listedHubRow(hub) << '\n';
        }
        return;
    }
    JsonDocument listed = JsonDocument::array();
    for (const ListedHub& hub : hubs) {
        JsonDocument entry = {{"port", hub.device.portPath},
                              {"vid", hexText(hub.device.vendorId, 4)},
                              {"pid", hexText(hub.device.productId, 4)},
                              {"code", runCodeName(hub)}};
        entry["version"] = hub.status ? JsonDocument(listedVersionText(hub)) : JsonDocument();
        entry["serial"] = hub.serial ? JsonDocument(*hub.serial) : JsonDocument();
        listed.push_back(std::move(entry));
    }
    out << asciiJson(std::move(listed)) << '\n';
}

// The flash page read's output: the flash contents, whether or not they hold an image.
ExitStatus saveFlashContents(const CommandContext& command, const std::string& path) {
    const FirmwareBuffer& flashPage = command.buffers.flashPage;
    const bool toStandardOutput = path == text::kStandardOutputName;
    if (toStandardOutput) {
        if (!writeToStandardOutput(command, flashPage.data)) return ExitStatus::WorkflowFailed;
    } else {
        const FileWriteResult written =
            writeFileAtomically(path, flashPage.data.data(), flashPage.data.size());
        if (!written.written) {
            return command.fail(ExitStatus::WorkflowFailed, text::cannotWrite(path, written.error));
        }
    }
    const std::size_t size = flashPage.data.size();
    if (!flashPage.loaded) {
        command.note(text::flashWithoutImage(toStandardOutput ? "standard output" : path));
    } else {
        command.note(toStandardOutput ? text::savedToStandardOutput(size) : text::savedFile(path, size));
    }
    return ExitStatus::Success;
}

// Why the hub could not be opened, when the program knows more than the status
// lines say: another run holds it (and who, on which port: the hub may be off the
// bus, restarting under that run), or its lock file cannot be used.
std::vector<std::string> openFailureReasons(HubConnection& connection) {
    if (connection.refusedAsBusy()) {
        std::vector<std::string> reasons{withoutLineEnd(messages::kHubBusy)};
        if (auto holder = busyPortText(connection)) reasons.push_back(std::move(*holder));
        return reasons;
    }
    const HubConnection::OpenFailure& failure = connection.lastOpenFailure();
    if (failure.lockProblem.empty()) return {};
    return {text::openRefused(failure.lockProblem)};
}

// A failed hub command: the status lines stay as the window shows them; the real
// cause follows on stderr when there is one.
ExitStatus workflowOutcome(const CommandContext& command, HubConnection& connection, bool succeeded) {
    if (succeeded) return ExitStatus::Success;
    for (const std::string& reason : openFailureReasons(connection)) command.note(reason);
    return ExitStatus::WorkflowFailed;
}

ExitStatus workflowOutcome(const CommandContext& command, HubSession& session, bool succeeded) {
    return workflowOutcome(command, session.connection(), succeeded);
}

// The field keeps the window's text (fwVer:ffff for a hub that would not open);
// the reason and the exit status say it was not a success.
ExitStatus detectionOutcome(const CommandContext& command, HubConnection& connection, const HubInfo& info,
                            const std::string& port = {}) {
    if (info.colour != TextColour::Blue) return ExitStatus::WorkflowFailed;
    const IOReturn openStatus = connection.lastOpenFailure().status;
    if (openStatus != kIOReturnSuccess) {
        std::vector<std::string> reasons = openFailureReasons(connection);
        if (reasons.empty()) reasons.push_back(text::openFailed(openStatus));
        for (const std::string& reason : reasons) command.note(port.empty() ? reason : port + ": " + reason);
        return ExitStatus::WorkflowFailed;
    }
    return ExitStatus::Success;
}

// A hub named by its port is a unit on a line: detection adds the serial number
// it reports, on a line of its own after the field's.
HubInfo detectOnPort(HubConnection& connection) {
    HubInfo info = DetectHub(connection);
    if (info.colour == TextColour::Blue) {
        info.text += '\n';
        info.text += text::serialLine(listedSerialText(readHubSerial(connection)));
    }
    return info;
}

// detect --port A --port B: each hub's field, its lines prefixed with its port, or
// one JSON entry per hub.
ExitStatus detectSeveral(const CommandContext& command, HubSession& session,
                         const std::vector<std::string>& ports) {
    std::ostream& out = command.streams.out;
    ExitStatus status = ExitStatus::Success;
    JsonDocument detected = JsonDocument::array();
    for (std::size_t index = 0; index < ports.size(); ++index) {
        std::unique_ptr<HubConnection> connection = session.connectionTo(ports[index]);
        const HubInfo info = detectOnPort(*connection);
        if (command.options.json) {
            JsonDocument entry = {{"port", ports[index]}};
            entry.update(hubInfoJson(info));
            detected.push_back(std::move(entry));
        } else {
            const bool found = info.colour == TextColour::Blue;
            std::size_t start = 0;
            while (start <= info.text.size()) {
                const std::size_t end = std::min(info.text.find('\n', start), info.text.size());
                const std::string line = info.text.substr(start, end - start);
                out << printableText(ports[index]) << ": ";
                if (command.streams.outIsTerminal) {
                    out << (found ? kBlue : kRed) << line << kPlain << '\n';
                } else {
                    out << line << '\n';
                }
                start = end + 1;
            }
        }
        if (detectionOutcome(command, *connection, info, ports[index]) != ExitStatus::Success)
            status = ExitStatus::WorkflowFailed;
    }
    if (command.options.json) out << asciiJson(std::move(detected)) << '\n';
    out.flush();
    return status;
}

// A hub workflow on the hubs of an admitted plan: with none chosen (and no --json)
// on the one supported hub with exactly the window's output; with one, the same
// output pinned to its port; with several, or --json, all at once with a summary.
// (With several attached and none chosen the plan was refused: the bus's order
// picks no hub for the user.)
ExitStatus runSelected(const CommandContext& command, HubSession& session, const HubSelection& selection,
                       const PlanVerdict& admitted, const HubWorkflow& workflow) {
    const bool json = command.options.json;
    const std::vector<std::string>& ports = admitted.ports;
    if (!selection.chosen() && !json) {
        TerminalReporter reporter(command.streams);
        beginWorkflow(reporter);
        return workflowOutcome(command, session, workflow(session.workflowContext(reporter)));
    }
    if (ports.empty()) return noHubAttached(command, session);
    if (ports.size() == 1 && !json) {
        std::unique_ptr<HubConnection> connection = session.connectionTo(ports.front());
        TerminalReporter reporter(command.streams);
        beginWorkflow(reporter);
        return workflowOutcome(command, *connection,
                               workflow(session.workflowContext(reporter, *connection)));
    }
    return runOnSeveralHubs(command, session, ports, workflow);
}

}  // namespace

ExitStatus runDetect(const CommandContext& command) {
    CommandContext own = command;
    HubSelection selection;
    std::string error;
    if (!takeHubSelection(own.arguments, "detect", false, selection, error) ||
        !expectArguments(own, "detect", 0, "", error))
        return command.fail(ExitStatus::BadUsage, error);
    auto session = openSession(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    RunPlan plan =
        commandPlan(command, "detect", selection.ports.empty() ? PlanHubs::EachListed : PlanHubs::NamedPorts);
    plan.ports = selection.ports;
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted)) return *refused;
    if (selection.ports.size() > 1) return detectSeveral(command, *session, selection.ports);
    std::unique_ptr<HubConnection> pinned;
    if (!selection.ports.empty()) pinned = session->connectionTo(selection.ports.front());
    HubConnection& connection = pinned ? *pinned : session->connection();
    // With none named, the window's field: one hub's detection, or a row for each of several.
    const HubInfo info = pinned ? detectOnPort(connection) : detectAttachedHubs(session->environment());
    printHubInfo(command, info);
    return detectionOutcome(command, connection, info);
}

ExitStatus runList(const CommandContext& command) {
    std::string error;
    if (!expectArguments(command, "list", 0, "", error)) return command.fail(ExitStatus::BadUsage, error);
    auto session = openSession(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(),
                                        commandPlan(command, "list", PlanHubs::EachListed), admitted))
        return *refused;
    printHubs(command, listSupportedHubs(session->environment()));
    return ExitStatus::Success;
}

ExitStatus runUpdate(const CommandContext& command) {
    CommandContext own = command;
    const bool allowNewIds = takeFlag(own.arguments, kAllowNewIds);
    HubSelection selection;
    std::optional<std::string> serial;
    std::string error;
    if (!takeSerial(own.arguments, serial, error) ||
        !takeHubSelection(own.arguments, "update", true, selection, error) ||
        !expectArguments(own, "update", 1, "the image FILE", error)) {
        return command.fail(ExitStatus::BadUsage, error);
    }
    // A serial number names one unit: it goes to one hub, never to a batch.
    if (serial && (selection.all || selection.ports.size() > 1))
        return command.fail(ExitStatus::BadUsage, text::serialTakesOneHub());
    const std::string& path = own.arguments[0];
    auto session = openSession(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    RunPlan plan = commandPlan(command, "update", selection);
    plan.bytes = {BytesSource::ImageFile, path, ImageUse::Update, allowNewIds};
    plan.reads = {path};
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted, true))
        return *refused;
    ImageAdmission admission = std::move(*admitted.image);
    noteSignature(command, admission.signature, true);
    if (serial) {
        std::optional<FirmwareBuffer> unit = imageWithSerial(admission.image, *serial);
        if (!unit) return command.fail(ExitStatus::BadUsage, serialTooLong(admission.image, serial->size()));
        admission.image = std::move(*unit);
        // A unit's serial may be written again by an engineer: said, not refused.
        for (const auto& given : session->environment().givenSerial(*serial))
            command.note(formatText(messages::kSerialGivenFormat, serial->c_str(), given.station.c_str(),
                                    given.state.c_str(), given.where.c_str()));
    }
    command.buffers.easyUpdate = std::move(admission.image);
    const FirmwareBuffer& image = command.buffers.easyUpdate;
    const ImageSignature& signature = admission.signature;
    return runSelected(command, *session, selection, admitted,
                       [&image, &path, &signature](const WorkflowContext& context) {
                           WorkflowContext signed_ = context;
                           signed_.imageSignature = &signature;
                           return updateFunc(signed_, image, path);
                       });
}

ExitStatus runScalar(const CommandContext& command) {
    CommandContext own = command;
    const bool allowNewIds = takeFlag(own.arguments, kAllowNewIds);
    HubSelection selection;
    std::string error;
    if (!takeHubSelection(own.arguments, "scalar", false, selection, error) ||
        !expectArguments(own, "scalar", 0, "", error))
        return command.fail(ExitStatus::BadUsage, error);
    if (selection.ports.size() > 1) return command.fail(ExitStatus::BadUsage, text::takesOnePort("scalar"));
    auto session = openSession(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    const ScalarSettings settings{session->resourcePath(), session->config().fwbinPath};
    RunPlan plan = commandPlan(command, "scalar", selection);
    if (!settings.fwbinPath.empty()) {
        plan.bytes = {BytesSource::ImageFile, scalarImagePath(settings), ImageUse::Scalar, allowNewIds};
        plan.reads = {plan.bytes.path};
    }
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted)) return *refused;
    const std::optional<std::string> named =
        selection.ports.empty() ? std::nullopt : std::optional<std::string>(selection.ports.front());
    OneHub hub = connectOneHub(*session, "scalar", named, false);
    if (!hub.refusal.empty()) return command.fail(ExitStatus::BadUsage, hub.refusal);
    ImageSignature signature;
    if (admitted.image) {
        // The run writes the bytes admitted here, signature and all: the file is
        // not read again.
        ImageAdmission admission = std::move(*admitted.image);
        noteSignature(command, admission.signature, true);
        command.buffers.scalar = std::move(admission.image);
        signature = std::move(admission.signature);
    }
    TerminalReporter reporter(command.streams);
    beginWorkflow(reporter);
    WorkflowContext context = session->workflowContext(reporter, *hub.connection);
    context.imageSignature = &signature;
    // The window's scalar box shows the configured name, and so does the FW line.
    const bool succeeded =
        updateScalar(context, command.buffers.scalar, settings, settings.fwbinPath, ScalarImage::Admitted);
    return workflowOutcome(command, *hub.connection, succeeded);
}

ExitStatus runRead(const CommandContext& command) {
    CommandContext own = command;
    HubSelection selection;
    std::string error;
    if (!takeHubSelection(own.arguments, "read", false, selection, error) ||
        !expectArguments(own, "read", 1, "the output file OUT.bin", error)) {
        return command.fail(ExitStatus::BadUsage, error);
    }
    if (selection.ports.size() > 1) return command.fail(ExitStatus::BadUsage, text::takesOnePort("read"));
    const std::string& path = own.arguments[0];
    if (!outputPathUsable(path, error)) return command.fail(ExitStatus::BadUsage, error);
    if (path == text::kStandardOutputName && command.streams.outIsTerminal) {
        return command.fail(ExitStatus::BadUsage, text::kBinaryToTerminal);
    }
    auto session = openSession(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    // One hub only: with several attached, which one to read must be said.
    RunPlan plan = commandPlan(command, "read", selection);
    plan.writes = {{path, OutputKind::FlashContents}};
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted)) return *refused;
    const std::optional<std::string> named =
        selection.ports.empty() ? std::nullopt : std::optional<std::string>(selection.ports.front());
    OneHub hub = connectOneHub(*session, "read", named, false);
    if (!hub.refusal.empty()) return command.fail(ExitStatus::BadUsage, hub.refusal);
    HubConnection& connection = *hub.connection;
    TerminalReporter reporter(statusStreams(command, path));
    beginWorkflow(reporter);
    if (!readFunc_FwFlash(session->workflowContext(reporter, connection), command.buffers.flashPage)) {
        return workflowOutcome(command, connection, false);
    }
    return saveFlashContents(command, path);
}

ExitStatus runErase(const CommandContext& command) {
    CommandContext own = command;
    HubSelection selection;
    std::string error;
    if (!takeHubSelection(own.arguments, "erase", true, selection, error) ||
        !expectArguments(own, "erase", 0, "", error))
        return command.fail(ExitStatus::BadUsage, error);
    auto session = openSession(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    RunPlan plan = commandPlan(command, "erase", selection);
    plan.bytes.source = BytesSource::Erased;
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted, true))
        return *refused;
    return runSelected(command, *session, selection, admitted,
                       [](const WorkflowContext& context) { return eraseFunc_FwFlash(context); });
}

}  // namespace velmora::cli
