#pragma once
// A systemd-logind inhibitor lock, taken over the system bus with sd-bus: while
// its descriptor is open, logind keeps the machine from sleeping, shutting down,
// going idle or acting on its power, suspend, hibernate keys and lid ("block"),
// or only puts sleep and shutdown off for a few seconds ("delay"). Debian's
// polkit policy grants block to a session at the machine's own seat and to root;
// anyone else (ssh, a service) gets delay.
//
// Every exchange with the bus is bounded by one deadline: a bus that accepts the
// connection and never answers costs the run that long, never more.
#include <chrono>
#include <optional>
#include <string>

namespace velmora::host {

// How long taking a lock may take, the connection and both requests together.
inline constexpr std::chrono::milliseconds kInhibitorTimeout{5000};
// Where the system bus listens when DBUS_SYSTEM_BUS_ADDRESS does not say.
inline constexpr const char* kSystemBusAddress = "unix:path=/run/dbus/system_bus_socket";

struct InhibitorSettings {
    // The bus; none: DBUS_SYSTEM_BUS_ADDRESS, else kSystemBusAddress.
    std::optional<std::string> busAddress;
    std::chrono::milliseconds timeout = kInhibitorTimeout;
};

enum class InhibitMode { Block, Delay };
const char* modeName(InhibitMode mode);

// Why a lock could not be had.
enum class NoLock { NoBus, NoLogind, Refused, TimedOut };

// A lock, or why there is none. Closing its descriptor (the destructor) lets it go.
class InhibitorLock {
public:
    InhibitorLock() = default;
    ~InhibitorLock() { release(); }
    InhibitorLock(InhibitorLock&& other) noexcept;
    InhibitorLock& operator=(InhibitorLock&& other) noexcept;
    InhibitorLock(const InhibitorLock&) = delete;
    InhibitorLock& operator=(const InhibitorLock&) = delete;

    bool held() const { return descriptor_ >= 0; }
    std::optional<InhibitMode> mode() const { return mode_; }
    // With Delay: why block was refused. Without a lock: why there is none (a
    // diagnostic line's end, kNoLockFormat), and its kind.
    const std::string& problem() const { return problem_; }
    std::optional<NoLock> noLock() const { return noLock_; }
    void release();

private:
    friend InhibitorLock takeInhibitor(const InhibitorSettings&, const std::string&);
    int descriptor_ = -1;
    std::optional<InhibitMode> mode_;
    std::optional<NoLock> noLock_;
    std::string problem_;
};

// Asks logind for a block lock with why as its reason; when that is refused, for
// a delay lock on shutdown and sleep.
InhibitorLock takeInhibitor(const InhibitorSettings& settings, const std::string& why);

}  // namespace velmora::host
