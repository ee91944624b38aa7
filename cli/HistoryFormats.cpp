#include "cli/HistoryFormats.h"

#include <array>
#include <utility>

#include "app/TextAppend.h"
#include "cli/CliText.h"
#include "cli/JsonText.h"

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

// "open=12;erase=128;reset" as {"open": 12, "erase": 128, "reset": null}.
std::string phasesJson(const std::string& phases) {
    std::string object = "{";
    std::size_t start = 0;
    while (start < phases.size()) {
        std::size_t end = phases.find(';', start);
        if (end == std::string::npos) end = phases.size();
        const std::string entry = phases.substr(start, end - start);
        const std::size_t equals = entry.find('=');
        object += (object.size() > 1 ? ", " : "") + jsonString(entry.substr(0, equals)) + ": ";
        const std::string milliseconds = equals == std::string::npos ? "" : entry.substr(equals + 1);
        const bool number =
            !milliseconds.empty() && milliseconds.find_first_not_of("0123456789") == std::string::npos;
        object += number ? milliseconds : "null";
        start = end + 1;
    }
    return object + "}";
}

}  // namespace

std::string historyTable(const std::vector<HistoryRecord>& runs) {
    std::string table;
    for (const HistoryRecord& run : runs) {
        table += orDash(run.started) + "  " + orDash(run.operation) + "  " + orDash(run.port) + "  " +
                 orDash(run.result) + "  " + orDash(run.versionBefore) + " -> " + orDash(run.versionAfter) +
                 "  " + orDash(run.imagePath);
        if (!run.failure.empty()) table += "  " + text::printable(run.failure);
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
    std::string json = "[";
    for (const HistoryRecord& run : runs) {
        json += std::string(json.size() > 1 ? ",\n " : "") + "{\"id\": " + std::to_string(run.id);
        for (const Field& field : kFields) {
            const std::string& value = run.*field.second;
            json += std::string(", \"") + field.first + "\": ";
            json += std::string(field.first) == "phases" ? phasesJson(value) : jsonString(value);
        }
        json += "}";
    }
    return json + "]\n";
}

}  // namespace velmora::cli
