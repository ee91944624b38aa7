#pragma once
// Which history the `history` commands read: a line's server when one is named
// (--history, VELMORA_HISTORY, config.ini's [History] Server), else this
// station's own file, as the hub commands record into them.
#include <memory>
#include <string>

#include "cli/CommandContext.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryLocation.h"
#include "history/HistoryStore.h"

namespace velmora::cli {

// The history the options name; tells once when a password stands on the
// command line.
history::HistoryTarget historyTarget(const CommandContext& command);

// The history to read: the server or the station's file. Null with the exit
// status in failed (and the message told) when it cannot be used, or with
// missing set when the station's file simply does not exist yet.
std::unique_ptr<history::HistoryStore> openHistory(const CommandContext& command,
                                                   const history::HistoryTarget& target, bool& missing,
                                                   ExitStatus& failed);

// The station's own file, for sending: null with missing set when there is none.
std::unique_ptr<history::HistoryDatabase> openStationFile(const CommandContext& command,
                                                          const history::HistoryTarget& target, bool& missing,
                                                          ExitStatus& failed);

}  // namespace velmora::cli
