#pragma once
// One hub operation as the history keeps it. A run's row is written when it starts
// (result "unfinished") and completed when it ends, so a crash or a pulled cable
// leaves an unfinished row rather than nothing.
#include <cstdint>
#include <optional>
#include <string>

namespace velmora::history {

inline constexpr const char* kResultUnfinished = "unfinished";
inline constexpr const char* kResultSuccess = "success";
inline constexpr const char* kResultFailure = "failure";

struct HistoryRecord {
    std::int64_t id = 0;    // given by the database
    std::string operation;  // runOperationName's words (workflows/RunOperation.h)
    std::string started;    // UTC, IsoTime's form
    std::string ended;      // empty while unfinished
    std::string host;
    std::string port;           // the hub's port path; empty until a hub was opened
    std::string hubIds;         // every "VID:PID" the hub showed during the run, in order
    std::string versionBefore;  // four hex digits, "rom" when it ran its ROM code, empty: unknown
    std::string versionAfter;
    std::string imagePath;
    std::string imageSha256;
    std::string imageSerial;
    std::string phases;  // the run's PhaseLog (history/PhaseLog.h) as text
    std::string result = kResultUnfinished;
    std::string failure;  // the failure line the run showed
    // The SHA-256 of the flash backup taken before the run erased, empty: none.
    std::string backupSha256;
    // For a recovery, the run UUID of the run it recovered from.
    std::string recoveredRun;
    // The run's own name on every station and server: a UUIDv7, so it also sorts
    // by the time the run started. Writing a row again under it changes nothing.
    std::string runUuid;
    std::string station;  // the station's name, by default its host name
    // storedOrigin of the hub's origin (workflows/RunOrigin.h): empty for a
    // real hub; a line's figures leave the others out.
    std::string origin;
    // Counts the row's writes: a server keeps the latest and never goes back.
    std::int64_t revision = 0;
    // In the station's own file: when the server took the row's latest write
    // (UTC), empty while it waits. On a server: when the server received it.
    std::string serverTime;
    // The serial number the hub reported after its update; empty: none, or not read.
    std::string hubSerial;
    // The image's signature as the gate judged it: "unsigned", "trusted" (or
    // "refused"); empty: not judged (a backup written back, or a row from
    // before signatures were checked). The signing key's ID and its trusted
    // comment, for a signed image.
    std::string signature;
    std::string signatureKey;
    std::string signatureComment;
    // The SHA-256 of the signed file when the bytes written (image_sha256)
    // differ from it: a unit's serial in the string area. Empty: they are alike.
    std::string signedSha256;
    // The line's server the row is for, as the station named it (never with a
    // password, history/server's serverIdentity): only that server takes it.
    // Empty: no server was named when the run was written.
    std::string lineServer;
    // The unit's own ID (a label scanned at the station), when it was given one;
    // none: the unit had no ID.
    std::optional<std::string> unitId;
};

// What `history` lists: rows started at or after since (IsoTime's form), on one
// port; empty fields select everything.
struct HistoryFilter {
    std::string since;
    std::string port;
    std::string station{};  // empty: every station
    std::string serial{};   // the unit's serial, as its image gave it or it reported it
    // Only the runs of this origin (storedOrigin's words); none: every origin.
    std::optional<std::string> origin{};
    std::string unitId{};  // the runs of one unit ID; empty: every run
};

}  // namespace velmora::history
