#include "cli/CliText.h"

#include "app/PrintableText.h"
#include "app/TextAppend.h"
#include "app/TextFormat.h"
#include "cli/CliOptions.h"
#include "device/UsbPlatform.h"
#include "device/UsbStatus.h"
#include "editor/EditorConstants.h"
#include "firmware/FirmwareBuffer.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::cli::text {

std::string missingValue(const std::string& option) {
    return option + " needs a value";
}

std::string badBackupRunsKept(const std::string& value) {
    std::string text;
    return appendText(text, {"--keep-backups takes a number of runs from 1 to ",
                             std::to_string(kMostBackupRunsKept), ", not '", printable(value), "'"});
}

std::string unknownCommand(const std::string& command) {
    return "unknown command '" + command + "' (see --help)";
}

std::string unknownOption(const std::string& command, const std::string& option) {
    return command + ": unknown option '" + option + "'";
}

std::string unexpectedArgument(const std::string& command, const std::string& argument) {
    return command + ": unexpected argument '" + argument + "'";
}

std::string missingArgument(const std::string& command, const std::string& what) {
    return command + ": missing " + what;
}

std::string cannotRead(const std::string& path, const std::string& reason) {
    return formatText(messages::kCannotReadFormat, path.c_str(), reason.c_str());
}

std::string cannotWrite(const std::string& path, const std::string& reason) {
    return "cannot write '" + path + "': " + reason;
}

std::string jsonNotSupported(const std::string& command) {
    return "--json: not available for " + command +
           " (only detect, list, update, erase, doctor, history and image show)";
}

std::string noProperties(const std::string& path) {
    return "'" + path + "' defines no properties";
}

std::string unknownPage(const std::string& page) {
    std::string pages;
    for (const std::string_view name : editor::kPageNames) {
        pages += (pages.empty() ? "" : ", ") + std::string(name);
    }
    return "--page: unknown page '" + page + "' (pages: " + pages + ")";
}

std::string unknownProperty(const std::string& name) {
    return "--set: no property named '" + name + "' in the definition file";
}

std::string unknownPropertyOption(const std::string& name, const std::string& value) {
    return "--set: '" + value + "' is not an option of '" + name + "'";
}

std::string badSetting(const std::string& setting) {
    return "--set: expected NAME=VALUE, got '" + setting + "'";
}

std::string editRefused(const std::string& option, const std::string& reason) {
    return option + ": " + reason;
}

std::string stringsTooLong(const std::string& option) {
    return option + ": manufacturer, product and serial number hold at most 29 bytes together";
}

std::string notFourHexDigits(const std::string& option, const std::string& value) {
    return option + ": expected four hex digits, got '" + value + "'";
}

std::string notContainerId(const std::string& value) {
    return "--container-id: expected 32 hex digits, as {00112233-4455-6677-8899-aabbccddeeff} or without "
           "braces and dashes, got '" +
           value + "'";
}

std::string setPosition(const std::string& name, std::size_t position, const std::string& title) {
    return formatText("--set %s: wrote option position %zu (%s)", name.c_str(), position, title.c_str());
}

std::string setPositionDiffers(const std::string& name, const std::string& valueText, std::size_t position) {
    return formatText(
        "warning: --set %s: the definition file gives this option the value %s, but its position %zu is what "
        "the image stores; reading the image back shows the option whose value is %zu",
        name.c_str(), valueText.c_str(), position, position);
}

std::string savedToStandardOutput(std::size_t size) {
    return formatText("wrote %zu bytes to standard output", size);
}

std::string openRefused(const std::string& reason) {
    return "the hub was not opened: " + reason;
}

std::string openFailed(unsigned status) {
    if (status == kIOReturnExclusiveAccess) {
        return openRefused("another driver holds it, or this user may not open it (see 'driver load')");
    }
    return openRefused("status " + statusText(status));
}

std::string savedFile(const std::string& path, std::size_t size) {
    return formatText("wrote %zu bytes to %s", size, path.c_str());
}

std::string flashWithoutImage(const std::string& path) {
    return "the flash holds no configuration block (VID: Err); " + path + " holds its raw contents";
}

std::string printable(std::string_view value) {
    return printableText(value);
}

std::string allWithPorts(const std::string& command) {
    return command + ": --all and --port exclude each other";
}

std::string takesOneHub(const std::string& command, const std::vector<std::string>& ports, bool allowAll) {
    std::string named;
    for (const std::string& port : ports) {
        named += named.empty() ? "" : ", ";
        named += port;
    }
    std::string error = formatText("%s: %zu supported hubs are attached (", command.c_str(), ports.size());
    error += named;
    error += allowAll ? "); name one with --port PATH, or every one with --all (see list)"
                      : "); name the one to use with --port PATH (see list)";
    return error;
}

std::string takesOnePort(const std::string& command) {
    return command + ": takes one hub, so --port only once";
}

std::string fleetProgress(double percent) {
    return formatText("%.0f%%", percent);
}

std::string fleetRestarting(double seconds) {
    return formatText("restarting %.1f s", seconds);
}

namespace {
constexpr const char* kSummaryRowFormat = "%-*s  %-7s  %-6s  %-5s  %s\n";
}  // namespace

std::string summaryHeader(std::size_t portWidth) {
    return formatText(kSummaryRowFormat, static_cast<int>(portWidth), "port", "result", "before", "after",
                      "seconds");
}

std::string summaryRow(std::size_t portWidth, const std::string& port, bool succeeded,
                       const std::string& before, const std::string& after, double seconds) {
    return formatText(kSummaryRowFormat, static_cast<int>(portWidth), port.c_str(),
                      succeeded ? "success" : "failed", before.c_str(), after.c_str(),
                      formatText("%.1f", seconds).c_str());
}

std::string badSince(const std::string& value) {
    return "history: --since takes an ISO-8601 time such as 2026-12-08T09:00Z, not '" + printable(value) +
           "'";
}

std::string serialLine(const std::string& serial) {
    return "serial:" + serial;
}

std::string givenTwice(const std::string& command, const std::string& option) {
    return command + ": " + option + " is given twice";
}

std::string serialTakesOneHub() {
    return "update: --serial names one unit; it takes one hub, not --all or several --port";
}

std::string metricsServed(const std::string& address) {
    return "Station: figures for monitoring at http://" + address + "/metrics\n";
}

std::string noHistoryYet(const std::string& path) {
    return "history: nothing recorded yet (" + printable(path) + " does not exist)";
}

std::string historyUnusable(const std::string& path, const std::string& reason) {
    return "history: " + printable(path) + ": " + printable(reason);
}

std::string badReportGrouping(const std::string& value) {
    return "history report: --by takes station, port, day, phase or unit, not '" + printable(value) + "'";
}

std::string syncFailed(const std::string& server, const std::string& reason) {
    return "history sync: " + printable(server) + ": " + printable(reason) +
           "; the runs wait on this station";
}

std::string syncDone(const std::string& server, std::size_t sent) {
    return "history sync: " + std::to_string(sent) + " run records sent to " + printable(server);
}

std::string keyFileExists(const std::string& path) {
    return "image keygen: '" + printable(path) +
           "' exists; a new key pair replaces nothing (remove it first)";
}

std::string keyUnusable(const std::string& path, const std::string& reason) {
    return "--key: cannot use '" + printable(path) + "': " + reason;
}

std::string signatureOverKey(const std::string& path) {
    return "image sign: the signature " + printable(path) + " would replace the secret key";
}

std::string keyPairWritten(const std::string& keyId, const std::string& publicKey,
                           const std::string& secretKey, const std::string& systemFolder) {
    std::string text;
    return appendText(
        text, {"key ID ", keyId, "\npublic key: ", printable(publicKey), " (copy it into ", systemFolder,
               "/trusted-keys on every station)\nsecret key: ", printable(secretKey), " (keep it secret)\n"});
}

std::string signatureWritten(const std::string& path) {
    return "wrote " + printable(path) + "\n";
}

}  // namespace velmora::cli::text
