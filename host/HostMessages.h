#pragma once
// Every text of the host layer: what it asks logind for, the two lines a signal
// in a flash span gets, the notice that sleep is only delayed and the diagnostic
// lines (the console, shown with --verbose).
namespace velmora::host::messages {

// The logind lock. Block mode holds every way the machine could go away or sleep;
// logind takes delay mode for shutdown and sleep only.
inline constexpr const char* kInhibitBlockWhat =
    "shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch";
inline constexpr const char* kInhibitDelayWhat = "shutdown:sleep";
inline constexpr const char* kInhibitWho = "Velmora";
// The port of the hub whose span took the lock: one lock serves every hub of the
// process, and logind cannot change its text while it is held.
inline constexpr const char* kInhibitWhyFormat = "Firmware update in progress on %s";

// After the program's name and ": ". Written by the signal handler itself.
inline constexpr const char* kStopHeldLine = "an update is writing the hub's flash: stopping when it is done";
inline constexpr const char* kEndedInSpanLine =
    "ended while an update was writing the hub's flash: the hub may be left in its ROM code; "
    "`velmora-cli recover` writes back the flash kept before the run";

// Said once per process, when logind grants only a delay lock.
inline constexpr const char* kOnlyDelayedFormat =
    "sleep and shutdown are only delayed while an update writes a hub's flash, not blocked: logind "
    "lets only a session at the machine's own seat, or root, block them (%s)";

// Diagnostic lines.
inline constexpr const char* kLockTakenFormat = "velmora host: logind %s lock taken (%s)";
inline constexpr const char* kNoLockFormat =
    "velmora host: no logind lock, sleep and shutdown are not held off during the update: %s";
inline constexpr const char* kNoBusFormat = "no system bus at %s (%s)";
inline constexpr const char* kNoLogindFormat = "logind does not answer on the system bus (%s)";
inline constexpr const char* kRefusedFormat = "logind refused the lock (%s)";
inline constexpr const char* kBusTimeoutFormat = "the system bus did not answer within %lld ms";
inline constexpr const char* kAutosuspendOffFormat =
    "velmora host: autosuspend off for the hub on %s (it was %s)";
inline constexpr const char* kAutosuspendNotRootFormat =
    "velmora host: autosuspend of the hub on %s left as it is: only root may change %s";
inline constexpr const char* kAutosuspendFailedFormat =
    "velmora host: autosuspend of the hub on %s left as it is: %s";

}  // namespace velmora::host::messages
