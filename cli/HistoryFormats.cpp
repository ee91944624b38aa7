#include "cli/HistoryFormats.h"

#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "app/Json.h"
#include "app/TextAppend.h"
#include "app/TextFormat.h"
#include "cli/CliText.h"
#include "history/PhaseLog.h"
#include "workflows/RunOrigin.h"

namespace velmora::cli {
namespace {

using history::HistoryRecord;

using Field = std::pair<const char*, std::string HistoryRecord::*>;

// Every column after the id, under the names the CSV header and the JSON use.
constexpr std::array<Field, 17> kFields = {{
    {"operation", &HistoryRecord::operation},
    {"started", &HistoryRecord::started},
    {"ended", &HistoryRecord::ended},
    {"host", &HistoryRecord::host},
    {"port", &HistoryRecord::port},
    {"hub_ids", &HistoryRecord::hubIds},
    {"version_before", &HistoryRecord::versionBefore},
    {"version_after", &HistoryRecord::versionAfter},
    {"image_path", &HistoryRecord::imagePath},
    {"image_sha256", &HistoryRecord::imageSha256},
    {"image_serial", &HistoryRecord::imageSerial},
    {"phases", &HistoryRecord::phases},
    {"result", &HistoryRecord::result},
    {"failure", &HistoryRecord::failure},
    {"backup_sha256", &HistoryRecord::backupSha256},
    {"recovered_run", &HistoryRecord::recoveredRun},
    {"hub_serial", &HistoryRecord::hubSerial},
}};

// In the JSON only: the CSV keeps the columns scripts already read by position.
constexpr std::array<Field, 5> kLineFields = {{
    {"station", &HistoryRecord::station},
    {"run_uuid", &HistoryRecord::runUuid},
    {"origin", &HistoryRecord::origin},
    {"server_time", &HistoryRecord::serverTime},
    {"line_server", &HistoryRecord::lineServer},
}};

// In the JSON only, as the line's fields are: the image's signature as judged.
constexpr std::array<Field, 4> kSignatureFields = {{
    {"signature", &HistoryRecord::signature},
    {"signature_key", &HistoryRecord::signatureKey},
    {"signature_comment", &HistoryRecord::signatureComment},
    {"signed_sha256", &HistoryRecord::signedSha256},
}};

std::string groupName(history::ReportGrouping by) {
    switch (by) {
        case history::ReportGrouping::Station: return "station";
        case history::ReportGrouping::Port: return "port";
        case history::ReportGrouping::Day: return "day";
        case history::ReportGrouping::Phase: return "phase";
        case history::ReportGrouping::Unit: return "unit";
        case history::ReportGrouping::Total: break;
    }
    return "total";
}

std::string yieldText(const history::ReportLine& line) {
    const std::optional<double> yield = line.yield();
    return yield ? formatText("%.1f%%", *yield * 100.0) : std::string("-");
}

std::string orDash(const std::string& value) {
    return value.empty() ? "-" : text::printable(value);
}

std::string csvField(std::string value) {
    if (!value.empty() && std::string("=+-@\t\r").find(value.front()) != std::string::npos) {
        value.insert(value.begin(), '\'');
    }
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string quoted = "\"";
    for (const char character : value) {
        quoted += character;
        if (character == '"') quoted += '"';
    }
    return quoted + '"';
}

// A run's phases as {"open": 12, "erase": 128, "reset": null}; the text as it
// stands when it is not a log this program writes.
JsonDocument phasesJson(const std::string& phases) {
    const std::optional<history::PhaseLog> log = history::PhaseLog::parse(phases);
    if (!log) return JsonDocument(phases);
    JsonDocument object = JsonDocument::object();
    for (const history::PhaseEntry& entry : log->entries()) {
        object[runPhaseName(entry.phase)] =
            entry.milliseconds ? JsonDocument(*entry.milliseconds) : JsonDocument();
    }
    return object;
}

}  // namespace

std::string historyTable(const std::vector<HistoryRecord>& runs) {
    std::string table;
    for (const HistoryRecord& run : runs) {
        table += orDash(run.started) + "  " + orDash(run.operation) + "  " + orDash(run.port) + "  " +
                 orDash(run.result) + "  " + orDash(run.versionBefore) + " -> " + orDash(run.versionAfter) +
                 "  " + orDash(run.imagePath);
        if (!run.failure.empty()) table += "  " + text::printable(run.failure);
        // A signed image names its key; an unsigned one's line is as it always was.
        if (!run.signatureKey.empty()) table += "  signed by " + text::printable(run.signatureKey);
        // A bench's run says so; a real hub's line is as it always was.
        if (!run.origin.empty()) table += "  (" + text::printable(originNameOfStored(run.origin)) + ")";
        table += '\n';
    }
    return table;
}

std::string historyCsv(const std::vector<HistoryRecord>& runs) {
    std::string csv = "id";
    for (const Field& field : kFields) appendText(csv, {",", field.first});
    csv += "\r\n";
    for (const HistoryRecord& run : runs) {
        csv += std::to_string(run.id);
        // Control characters from an image's strings (ESC, BEL) would act on the
        // terminal or tool that shows the file; they go as in the table.
        for (const Field& field : kFields)
            appendText(csv, {",", csvField(text::printable(run.*field.second))});
        csv += "\r\n";
    }
    return csv;
}

std::string historyJson(const std::vector<HistoryRecord>& runs) {
    JsonDocument listed = JsonDocument::array();
    for (const HistoryRecord& run : runs) {
        JsonDocument entry = {{"id", run.id}};
        for (const Field& field : kFields) {
            const std::string& value = run.*field.second;
            entry[field.first] =
                std::string(field.first) == "phases" ? phasesJson(value) : JsonDocument(value);
        }
        for (const Field& field : kLineFields) entry[field.first] = run.*field.second;
        for (const Field& field : kSignatureFields) entry[field.first] = run.*field.second;
        entry["unit_id"] = run.unitId ? JsonDocument(*run.unitId) : JsonDocument();
        listed.push_back(std::move(entry));
    }
    return asciiJson(std::move(listed)) + "\n";
}

std::string reportTable(const std::vector<history::ReportLine>& report, history::ReportGrouping by) {
    std::string table;
    for (const history::ReportLine& line : report) {
        const std::string key = line.key.empty() ? "-" : text::printable(line.key);
        table += (by == history::ReportGrouping::Total ? "all" : key) + ": units " +
                 std::to_string(line.units) + ", passed " + std::to_string(line.passed) + ", failed " +
                 std::to_string(line.failed) + ", unfinished " + std::to_string(line.unfinished) +
                 ", yield " + yieldText(line);
        std::string failures;
        for (const auto& [phase, count] : line.failuresByPhase)
            appendText(failures, {failures.empty() ? "" : ", ", phase.empty() ? "-" : text::printable(phase),
                                  " ", std::to_string(count)});
        if (!failures.empty()) table += "; failed in " + failures;
        if (line.firstPassUnits > 0)
            appendText(table, {"; first pass ", std::to_string(line.firstPassed), " of ",
                               std::to_string(line.firstPassUnits), " (",
                               formatText("%.1f%%", *line.firstPassYield() * 100.0), ")"});
        if (line.reads + line.erases + line.verifies > 0)
            appendText(table, {"; reads ", std::to_string(line.reads), ", erases ",
                               std::to_string(line.erases), ", verifies ", std::to_string(line.verifies)});
        table += '\n';
    }
    return table;
}

std::string reportJson(const std::vector<history::ReportLine>& report, history::ReportGrouping by) {
    constexpr double kYieldPlaces = 10000.0;  // four decimal places, as 0.6667
    JsonDocument lines = JsonDocument::array();
    for (const history::ReportLine& line : report) {
        const std::optional<double> yield = line.yield();
        const std::optional<double> firstPass = line.firstPassYield();
        JsonDocument failures = JsonDocument::object();
        for (const auto& [phase, count] : line.failuresByPhase) failures[phase] = count;
        lines.push_back({{groupName(by), line.key},
                         {"units", line.units},
                         {"passed", line.passed},
                         {"failed", line.failed},
                         {"unfinished", line.unfinished},
                         {"yield", yield ? JsonDocument(std::round(*yield * kYieldPlaces) / kYieldPlaces)
                                         : JsonDocument()},
                         {"failures_by_phase", std::move(failures)},
                         {"first_pass_units", line.firstPassUnits},
                         {"first_passed", line.firstPassed},
                         {"first_pass_yield",
                          firstPass ? JsonDocument(std::round(*firstPass * kYieldPlaces) / kYieldPlaces)
                                    : JsonDocument()},
                         {"reads", line.reads},
                         {"erases", line.erases},
                         {"verifies", line.verifies}});
    }
    return asciiJson(std::move(lines)) + "\n";
}

}  // namespace velmora::cli
