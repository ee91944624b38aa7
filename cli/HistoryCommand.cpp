#include "cli/HistoryCommand.h"

#include <optional>
#include <string>
#include <vector>

#include "app/IsoTime.h"
#include "cli/CliText.h"
#include "cli/HistoryFormats.h"
#include "cli/HubSession.h"
#include "history/HistoryReport.h"

namespace velmora::cli {
namespace {

enum class HistoryFormat { Table, Csv, Json };

struct HistoryRequest {
    HistoryFormat format = HistoryFormat::Table;
    history::HistoryFilter filter;
    history::ReportGrouping by = history::ReportGrouping::Total;
    bool withOrigins = false;
};

// The words list and report share; false when the word is not one of them.
bool readFilterOption(ArgumentReader& reader, HistoryRequest& request, std::string& error) {
    std::string value;
    if (reader.option("--since", value, error)) {
        if (!error.empty()) return true;
        const std::optional<WallTime> since = parseIsoTime(value);
        if (!since) error = text::badSince(value);
        if (since) request.filter.since = isoUtc(*since);
    } else if (reader.option("--port", value, error)) {
        request.filter.port = value;
    } else if (reader.option("--station", value, error)) {
        request.filter.station = value;
    } else if (reader.option("--serial", value, error)) {
        request.filter.serial = value;
    } else if (reader.option("--unit", value, error)) {
        if (value.empty() && error.empty()) error = text::kEmptyUnitId;
        request.filter.unitId = value;
    } else {
        return false;
    }
    return true;
}

void unknownWord(ArgumentReader& reader, const std::string& command, std::string& error) {
    const std::string word = reader.next();
    error = word.rfind("-", 0) == 0 ? text::unknownOption(command, word)
                                    : text::unexpectedArgument(command, word);
}

bool readListRequest(const CommandContext& command, HistoryRequest& request, std::string& error) {
    ArgumentReader reader(command.arguments);
    bool csv = false;
    while (!reader.done() && error.empty()) {
        if (reader.peek() == "--csv") {
            reader.next();
            csv = true;
        } else if (!readFilterOption(reader, request, error)) {
            unknownWord(reader, "history", error);
        }
    }
    if (csv && command.options.json && error.empty()) error = text::kCsvWithJson;
    if (csv) request.format = HistoryFormat::Csv;
    if (command.options.json) request.format = HistoryFormat::Json;
    return error.empty();
}

bool readReportRequest(const std::vector<std::string>& words, HistoryRequest& request, std::string& error) {
    ArgumentReader reader(words);
    while (!reader.done() && error.empty()) {
        std::string value;
        if (reader.peek() == "--include-simulated") {
            reader.next();
            request.withOrigins = true;
        } else if (reader.option("--by", value, error)) {
            const std::optional<history::ReportGrouping> by = history::reportGroupingNamed(value);
            if (!by && error.empty()) error = text::badReportGrouping(value);
            if (by) request.by = *by;
        } else if (!readFilterOption(reader, request, error)) {
            unknownWord(reader, "history report", error);
        }
    }
    return error.empty();
}

void print(const CommandContext& command, HistoryFormat format,
           const std::vector<history::HistoryRecord>& runs) {
    std::ostream& out = command.streams.out;
    switch (format) {
        case HistoryFormat::Table: out << historyTable(runs); break;
        case HistoryFormat::Csv: out << historyCsv(runs); break;
        case HistoryFormat::Json: out << historyJson(runs); break;
    }
    out.flush();
}

// The core that knows where the runs went; tells once when a password stands
// where other users can read it.
std::unique_ptr<HubEnvironment> historyEnvironment(const CommandContext& command) {
    std::string error;
    std::unique_ptr<HubEnvironment> environment = recordsEnvironment(command, error);
    if (!environment) {
        command.fail(ExitStatus::BadUsage, error);
        return nullptr;
    }
    if (const std::string warning = history::passwordWarning(environment->historyTarget()); !warning.empty())
        command.note(warning);
    return environment;
}

// The store the history commands read, the server or the station's file; null
// when it cannot be read (said), or with missing set when the file is not there
// yet (said on stderr).
history::HistoryStore* storeToRead(const CommandContext& command, HubEnvironment& environment,
                                   bool& missing) {
    if (environment.historyName().empty()) {
        command.fail(ExitStatus::BadUsage, text::kNoHistoryPath);
        return nullptr;
    }
    std::string error;
    history::HistoryStore* store = environment.historyToRead(missing, error);
    if (missing) command.note(text::noHistoryYet(environment.historyName()));
    if (!store && !missing)
        command.fail(ExitStatus::BadUsage, text::historyUnusable(environment.historyName(), error));
    return store;
}

// The runs the request selects; an empty list when the file is not there yet.
std::optional<std::vector<history::HistoryRecord>> selectRuns(const CommandContext& command,
                                                              const HistoryRequest& request) {
    const std::unique_ptr<HubEnvironment> environment = historyEnvironment(command);
    if (!environment) return std::nullopt;
    bool missing = false;
    history::HistoryStore* store = storeToRead(command, *environment, missing);
    if (missing) return std::vector<history::HistoryRecord>{};
    if (!store) return std::nullopt;
    std::string error;
    std::optional<std::vector<history::HistoryRecord>> runs = store->list(request.filter, error);
    if (!runs) command.fail(ExitStatus::BadUsage, text::historyUnusable(environment->historyName(), error));
    return runs;
}

// The report the request asks for, counted by the store (never every run in
// memory); the report of no runs when the file is not there yet.
std::optional<std::vector<history::ReportLine>> countReport(const CommandContext& command,
                                                            const HistoryRequest& request) {
    const std::unique_ptr<HubEnvironment> environment = historyEnvironment(command);
    if (!environment) return std::nullopt;
    bool missing = false;
    history::HistoryStore* store = storeToRead(command, *environment, missing);
    if (missing) return history::buildReport({}, request.by, request.withOrigins);
    if (!store) return std::nullopt;
    std::string error;
    std::optional<std::vector<history::ReportLine>> report =
        store->report({request.filter, request.by, request.withOrigins}, error);
    if (!report) command.fail(ExitStatus::BadUsage, text::historyUnusable(environment->historyName(), error));
    return report;
}

ExitStatus runList(const CommandContext& command) {
    HistoryRequest request;
    std::string error;
    if (!readListRequest(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    const std::optional<std::vector<history::HistoryRecord>> runs = selectRuns(command, request);
    if (!runs) return ExitStatus::BadUsage;
    print(command, request.format, *runs);
    return ExitStatus::Success;
}

ExitStatus runReport(const CommandContext& command, const std::vector<std::string>& words) {
    HistoryRequest request;
    std::string error;
    if (!readReportRequest(words, request, error)) return command.fail(ExitStatus::BadUsage, error);
    const std::optional<std::vector<history::ReportLine>> report = countReport(command, request);
    if (!report) return ExitStatus::BadUsage;
    command.streams.out << (command.options.json ? reportJson(*report, request.by)
                                                 : reportTable(*report, request.by));
    command.streams.out.flush();
    return ExitStatus::Success;
}

// Sends the station's waiting rows at once. Bench runs go only to a server this
// command's own --history names.
ExitStatus runSync(const CommandContext& command, const std::vector<std::string>& words) {
    if (!words.empty()) {
        return command.fail(ExitStatus::BadUsage,
                            words.front().rfind("-", 0) == 0
                                ? text::unknownOption("history sync", words.front())
                                : text::unexpectedArgument("history sync", words.front()));
    }
    const std::unique_ptr<HubEnvironment> environment = historyEnvironment(command);
    if (!environment) return ExitStatus::BadUsage;
    bool noServer = false;
    std::string error;
    const std::optional<std::size_t> sent = environment->syncHistory(noServer, error);
    if (noServer) return command.fail(ExitStatus::BadUsage, text::kNoHistoryServer);
    const std::string server = environment->historyName();
    if (!sent) return command.fail(ExitStatus::WorkflowFailed, text::syncFailed(server, error));
    command.streams.out << text::syncDone(server, *sent) << '\n';
    command.streams.out.flush();
    return ExitStatus::Success;
}

}  // namespace

ExitStatus runHistory(const CommandContext& command) {
    const std::vector<std::string>& words = command.arguments;
    if (!words.empty() && (words.front() == "sync" || words.front() == "report")) {
        const std::vector<std::string> rest(words.begin() + 1, words.end());
        return words.front() == "sync" ? runSync(command, rest) : runReport(command, rest);
    }
    return runList(command);
}

}  // namespace velmora::cli
