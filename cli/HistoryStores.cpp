#include "cli/HistoryStores.h"

#include "app/AppPaths.h"
#include "app/Config.h"
#include "app/Console.h"
#include "cli/CliText.h"
#include "history/HistoryFile.h"
#include "history/PostgresHistory.h"

namespace velmora::cli {

history::HistoryTarget historyTarget(const CommandContext& command) {
    const CliOptions& options = command.options;
    SilentConsole silent;
    const std::string configured =
        readConfigFile(options.configPath.value_or(defaultConfigFile()), silent).config.historyServer;
    history::HistoryTarget target =
        history::chooseHistory(options.historyPath, history::historyVariable(), configured, false);
    if (const std::string warning = history::passwordWarning(target); !warning.empty()) command.note(warning);
    return target;
}

std::unique_ptr<history::HistoryDatabase> openStationFile(const CommandContext& command,
                                                          const history::HistoryTarget& target, bool& missing,
                                                          ExitStatus& failed) {
    failed = ExitStatus::BadUsage;
    missing = false;
    const std::string& path = target.localPath;
    if (path.empty()) {
        command.fail(ExitStatus::BadUsage, text::kNoHistoryPath);
        return nullptr;
    }
    std::string error;
    if (!history::checkHistoryFile(path, missing, error)) {
        command.fail(ExitStatus::BadUsage, text::historyUnusable(path, error));
        return nullptr;
    }
    if (missing) return nullptr;
    std::unique_ptr<history::HistoryDatabase> database = history::HistoryDatabase::open(path, error);
    if (!database) command.fail(ExitStatus::BadUsage, text::historyUnusable(path, error));
    return database;
}

std::unique_ptr<history::HistoryStore> openHistory(const CommandContext& command,
                                                   const history::HistoryTarget& target, bool& missing,
                                                   ExitStatus& failed) {
    if (target.serverUri.empty()) return openStationFile(command, target, missing, failed);
    missing = false;
    failed = ExitStatus::BadUsage;
    std::string error;
    std::unique_ptr<history::PostgresHistory> server =
        history::PostgresHistory::connect(target.serverUri, error);
    if (!server)
        command.fail(ExitStatus::BadUsage,
                     text::historyUnusable(history::redactUri(target.serverUri), error));
    return server;
}

}  // namespace velmora::cli
