#include "cli/HistoryCommand.h"

#include <optional>
#include <string>
#include <vector>

#include "cli/CliText.h"
#include "cli/HistoryFormats.h"
#include "cli/HistoryStores.h"
#include "history/HistoryReport.h"
#include "history/HistorySender.h"
#include "history/IsoTime.h"
#include "history/PostgresHistory.h"

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
        const std::optional<history::WallTime> since = history::parseIsoTime(value);
        if (!since) error = text::badSince(value);
        if (since) request.filter.since = history::isoUtc(*since);
    } else if (reader.option("--port", value, error)) {
        request.filter.port = value;
    } else if (reader.option("--station", value, error)) {
        request.filter.station = value;
    } else if (reader.option("--serial", value, error)) {
        request.filter.serial = value;
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

// The runs the request selects, from the server or the station's file; an empty
// list when the file is not there yet (said on stderr).
std::optional<std::vector<history::HistoryRecord>> selectRuns(const CommandContext& command,
                                                              const HistoryRequest& request,
                                                              ExitStatus& failed) {
    const history::HistoryTarget target = historyTarget(command);
    bool missing = false;
    const std::unique_ptr<history::HistoryStore> store = openHistory(command, target, missing, failed);
    if (missing) {
        command.note(text::noHistoryYet(target.localPath));
        return std::vector<history::HistoryRecord>{};
    }
    if (!store) return std::nullopt;
    std::string error;
    std::optional<std::vector<history::HistoryRecord>> runs = store->list(request.filter, error);
    if (!runs) {
        const std::string where =
            target.serverUri.empty() ? target.localPath : history::redactUri(target.serverUri);
        command.fail(ExitStatus::BadUsage, text::historyUnusable(where, error));
        failed = ExitStatus::BadUsage;
    }
    return runs;
}

ExitStatus runList(const CommandContext& command) {
    HistoryRequest request;
    std::string error;
    if (!readListRequest(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    ExitStatus failed = ExitStatus::BadUsage;
    const std::optional<std::vector<history::HistoryRecord>> runs = selectRuns(command, request, failed);
    if (!runs) return failed;
    print(command, request.format, *runs);
    return ExitStatus::Success;
}

ExitStatus runReport(const CommandContext& command, const std::vector<std::string>& words) {
    HistoryRequest request;
    std::string error;
    if (!readReportRequest(words, request, error)) return command.fail(ExitStatus::BadUsage, error);
    ExitStatus failed = ExitStatus::BadUsage;
    const std::optional<std::vector<history::HistoryRecord>> runs = selectRuns(command, request, failed);
    if (!runs) return failed;
    const std::vector<history::ReportLine> report =
        history::buildReport(*runs, request.by, request.withOrigins);
    command.streams.out << (command.options.json ? reportJson(report, request.by)
                                                 : reportTable(report, request.by));
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
    const history::HistoryTarget target = historyTarget(command);
    if (target.serverUri.empty()) return command.fail(ExitStatus::BadUsage, text::kNoHistoryServer);
    bool missing = false;
    ExitStatus failed = ExitStatus::BadUsage;
    const std::unique_ptr<history::HistoryDatabase> local = openStationFile(command, target, missing, failed);
    if (!local && !missing) return failed;
    const std::string server = history::redactUri(target.serverUri);
    std::string error;
    std::optional<std::size_t> sent = 0;
    if (local) {
        std::unique_ptr<history::PostgresHistory> remote =
            history::PostgresHistory::connect(target.serverUri, error);
        const bool withOrigins = target.source == history::ServerSource::CommandLine;
        sent = remote ? history::sendWaitingRows(*local, *remote, withOrigins, error) : std::nullopt;
    }
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
