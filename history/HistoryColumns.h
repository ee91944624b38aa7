#pragma once
// The text columns of a run's row, named alike in the station's file and on a
// server, in the order every statement binds and reads them. The id, the count
// of writes and the server's time are kept by each store itself.
#include <array>
#include <string>

#include "history/HistoryRecord.h"

namespace velmora::history {

inline constexpr std::array<const char*, 24> kRecordColumns = {"operation",
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
                                                               "signed_sha256"};

inline std::array<const std::string*, kRecordColumns.size()> recordFields(const HistoryRecord& record) {
    return {&record.operation,
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
            &record.signedSha256};
}

inline std::array<std::string*, kRecordColumns.size()> recordFields(HistoryRecord& record) {
    return {&record.operation,
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
            &record.signedSha256};
}

// "operation, started, ...": the columns for a statement.
inline std::string recordColumnList() {
    std::string list;
    for (const char* column : kRecordColumns) {
        if (!list.empty()) list += ", ";
        list += column;
    }
    return list;
}

}  // namespace velmora::history
