#pragma once
// What the history commands need from wherever the history is kept: the
// station's own SQLite file or a line's PostgreSQL server. Both keep the same
// rows under the same run UUIDs.
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/HistoryReport.h"

namespace velmora::history {

class HistoryStore {
public:
    virtual ~HistoryStore() = default;

    // Writes the run's row: a new one the first time, its latest state after.
    // A new row gets its id in record.id.
    virtual bool record(HistoryRecord& record, std::string& error) = 0;
    // The rows the filter selects, oldest first.
    virtual std::optional<std::vector<HistoryRecord>> list(const HistoryFilter& filter,
                                                           std::string& error) = 0;
    // `history report` over the rows the request's filter selects, counted
    // where they are kept (history/HistoryReport.h: reportFrom).
    virtual std::optional<std::vector<ReportLine>> report(const ReportRequest& request,
                                                          std::string& error) = 0;
};

}  // namespace velmora::history
