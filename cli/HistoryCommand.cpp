#include "cli/HistoryCommand.h"

#include <optional>
#include <string>
#include <vector>

#include "app/PrintableText.h"
#include "cli/CliText.h"
#include "cli/HistoryFormats.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryFile.h"
#include "history/IsoTime.h"

namespace velmora::cli {
namespace {

enum class HistoryFormat { Table, Csv, Json };

struct HistoryRequest {
    HistoryFormat format = HistoryFormat::Table;
    history::HistoryFilter filter;
};

bool readRequest(const CommandContext& command, HistoryRequest& request, std::string& error) {
    ArgumentReader reader(command.arguments);
    bool csv = false;
    while (!reader.done() && error.empty()) {
        std::string value;
        if (reader.peek() == "--csv") {
            reader.next();
            csv = true;
        } else if (reader.option("--since", value, error)) {
            if (!error.empty()) break;
            const std::optional<history::WallTime> since = history::parseIsoTime(value);
            if (!since) error = text::badSince(value);
            if (since) request.filter.since = history::isoUtc(*since);
        } else if (reader.option("--port", value, error)) {
            request.filter.port = value;
        } else if (reader.option("--serial", value, error)) {
            request.filter.serial = value;
        } else {
            const std::string word = reader.next();
            error = word.rfind("-", 0) == 0 ? text::unknownOption("history", word)
                                            : text::unexpectedArgument("history", word);
        }
    }
    if (csv && command.options.json && error.empty()) error = text::kCsvWithJson;
    if (csv) request.format = HistoryFormat::Csv;
    if (command.options.json) request.format = HistoryFormat::Json;
    return error.empty();
}

std::string historyPath(const CliOptions& options) {
    return options.historyPath ? *options.historyPath : history::defaultHistoryPath();
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

}  // namespace

ExitStatus runHistory(const CommandContext& command) {
    HistoryRequest request;
    std::string error;
    if (!readRequest(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    const std::string path = historyPath(command.options);
    if (path.empty()) return command.fail(ExitStatus::BadUsage, text::kNoHistoryPath);
    bool missing = false;
    if (!history::checkHistoryFile(path, missing, error)) {
        return command.fail(ExitStatus::BadUsage, text::historyUnusable(path, error));
    }
    if (missing) {
        command.note(text::noHistoryYet(path));
        print(command, request.format, {});
        return ExitStatus::Success;
    }
    const std::unique_ptr<history::HistoryDatabase> database = history::HistoryDatabase::open(path, error);
    std::optional<std::vector<history::HistoryRecord>> runs;
    if (database) runs = database->list(request.filter, error);
    if (!runs) return command.fail(ExitStatus::BadUsage, text::historyUnusable(path, error));
    print(command, request.format, *runs);
    return ExitStatus::Success;
}

}  // namespace velmora::cli
