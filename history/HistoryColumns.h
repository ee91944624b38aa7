#pragma once
// The text columns of a run's row, named alike in the station's file and on a
// server, in the order every statement binds and reads them. The id, the count
// of writes and the server's time are kept by each store itself.
#include <array>
#include <string>
#include <type_traits>

#include "history/HistoryRecord.h"

namespace velmora::history {

inline constexpr std::array<const char*, 25> kRecordColumns = {"operation",
                                                               "started",
                                                               "ended",
                                                               "host",
                                                               "port",
                                                               "hub_ids",
                                                               "version_before",
                                                               "version_after",
                                                               "image_path",
                                                               "image_sha256",
                                                               "image_serial",
                                                               "phases",
                                                               "result",
                                                               "failure",
                                                               "backup_sha256",
                                                               "recovered_run",
                                                               "run_uuid",
                                                               "station",
                                                               "origin",
                                                               "hub_serial",
                                                               "signature",
                                                               "signature_key",
                                                               "signature_comment",
                                                               "signed_sha256",
                                                               "line_server"};
// Beside the text columns: the unit's ID, NULL when it had none.
inline constexpr const char* kUnitIdColumn = "unit_id";

// The record's fields in the columns' order: read-only for a const record (to
// bind), writable otherwise (to read a row into).
template <typename Record>
requires std::is_same_v<std::remove_const_t<Record>, HistoryRecord>
auto recordFields(Record& record) {
    using Field = std::conditional_t<std::is_const_v<Record>, const std::string*, std::string*>;
    return std::array<Field, kRecordColumns.size()>{&record.operation,
                                                    &record.started,
                                                    &record.ended,
                                                    &record.host,
                                                    &record.port,
                                                    &record.hubIds,
                                                    &record.versionBefore,
                                                    &record.versionAfter,
                                                    &record.imagePath,
                                                    &record.imageSha256,
                                                    &record.imageSerial,
                                                    &record.phases,
                                                    &record.result,
                                                    &record.failure,
                                                    &record.backupSha256,
                                                    &record.recoveredRun,
                                                    &record.runUuid,
                                                    &record.station,
                                                    &record.origin,
                                                    &record.hubSerial,
                                                    &record.signature,
                                                    &record.signatureKey,
                                                    &record.signatureComment,
                                                    &record.signedSha256,
                                                    &record.lineServer};
}

// "operation, started, ..., unit_id": the columns for a statement, the text
// columns first and the unit's ID last.
inline std::string recordColumnList() {
    std::string list;
    for (const char* column : kRecordColumns) {
        if (!list.empty()) list += ", ";
        list += column;
    }
    return list + ", " + kUnitIdColumn;
}

}  // namespace velmora::history
