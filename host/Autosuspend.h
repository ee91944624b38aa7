#pragma once
// Autosuspend kept off for one hub's USB device while it is in its flash span:
// the device's sysfs power/control set to "on", and the value it had put back
// after. A port the kernel suspends mid-write would cut the hub off. The file can
// be written by root only; the load script's device rule keeps autosuspend off
// for the listed hubs on every run, so a run of another user loses little.
#include <filesystem>
#include <string>

namespace velmora::host {

inline constexpr const char* kSysfsRoot = "/sys";

enum class AutosuspendOutcome {
    TurnedOff,     // it was on ("auto"): now off until end()
    AlreadyOff,    // "on" already: nothing to put back
    NotPermitted,  // only root may write it
    Failed,        // no such device, or the file could not be read or written
};

class AutosuspendHold {
public:
    // The device on portPath ("1-4.2") below sysfsRoot (kSysfsRoot; tests give a tree of their own).
    AutosuspendHold(std::filesystem::path sysfsRoot, std::string portPath);
    ~AutosuspendHold() { end(); }
    AutosuspendHold(const AutosuspendHold&) = delete;
    AutosuspendHold& operator=(const AutosuspendHold&) = delete;

    // detail: with TurnedOff the earlier value, with a failure why.
    AutosuspendOutcome begin(std::string& detail);
    // Puts the earlier value back, when begin changed it and the port still holds
    // that device: a hub that came back from a reset is a new device, whose
    // setting the kernel and the device rules chose afresh.
    void end();
    std::filesystem::path controlFile() const;

private:
    std::string deviceNumber() const;

    std::filesystem::path device_;
    std::string portPath_;
    std::string earlier_;  // set while turned off
    std::string deviceNumber_;
};

}  // namespace velmora::host
