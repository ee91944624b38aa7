#include "host/LogindInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "host/HostMessages.h"

namespace velmora::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

// Closed without a flush: nothing is left to send once a lock is had or refused,
// and a flush would wait out sd-bus's own limit on a bus that never answered.
struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// An error from the bus, freed with it. Its words come from whoever answers on the
// bus and end up on a terminal: made printable.
struct BusError {
    // Value-initialised: what SD_BUS_ERROR_NULL spells, without its C compound literal.
    sd_bus_error error{};
    ~BusError() { sd_bus_error_free(&error); }
    std::string text(int result) const {
        if (sd_bus_error_is_set(&error)) {
            return printableText(std::string(error.name) + ": " +
                                 (error.message != nullptr ? error.message : ""));
        }
        return std::strerror(-result);
    }
};

// Names under which a bus says nobody answers there: logind is not running.
bool nobodyThere(const sd_bus_error& error) {
    for (const char* name :
         {SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER, SD_BUS_ERROR_UNKNOWN_OBJECT,
          SD_BUS_ERROR_UNKNOWN_INTERFACE, SD_BUS_ERROR_UNKNOWN_METHOD, SD_BUS_ERROR_NO_REPLY}) {
        if (sd_bus_error_has_name(&error, name)) return true;
    }
    return false;
}

std::uint64_t microsecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<std::uint64_t>(left) : 0;
}

std::string busAddress(const InhibitorSettings& settings) {
    if (settings.busAddress) return *settings.busAddress;
    const char* variable = ::secure_getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return variable != nullptr && variable[0] != '\0' ? variable : kSystemBusAddress;
}

struct Attempt {
    std::optional<NoLock> noLock;
    std::string problem;
};

class Exchange {
public:
    explicit Exchange(const InhibitorSettings& settings)
        : settings_(settings), deadline_(Clock::now() + settings.timeout) {}

    // Connected, authenticated and greeted by the bus, all before the deadline.
    // sd_bus_start only begins that; waiting on it here keeps sd-bus's own much
    // longer authentication limit out of the run.
    Attempt connect() {
        const std::string address = busAddress(settings_);
        sd_bus* raw = nullptr;
        int result = sd_bus_new(&raw);
        bus_.reset(raw);
        if (result >= 0) result = sd_bus_set_address(raw, address.c_str());
        if (result >= 0) result = sd_bus_set_bus_client(raw, 1);
        if (result >= 0) result = sd_bus_negotiate_fds(raw, 1);
        if (result >= 0) result = sd_bus_start(raw);
        while (result >= 0 && (result = sd_bus_is_ready(raw)) == 0) {
            result = sd_bus_process(raw, nullptr);
            if (result != 0) continue;
            const std::uint64_t left = microsecondsLeft(deadline_);
            if (left == 0) return timedOut();
            result = sd_bus_wait(raw, left);
            if (result == -EINTR) result = 0;
        }
        if (result < 0) {
            return {NoLock::NoBus, formatText(messages::kNoBusFormat, printableText(address).c_str(),
                                              std::strerror(-result))};
        }
        return {};
    }

    // One Inhibit request; with a lock, its descriptor is kept (close-on-exec, so no
    // program the run starts holds it on).
    Attempt inhibit(const char* what, InhibitMode mode, const std::string& why, int& descriptor) {
        sd_bus_message* raw = nullptr;
        int result = sd_bus_message_new_method_call(bus_.get(), &raw, kLogindName, kLogindPath,
                                                    kLogindManager, "Inhibit");
        Message request(raw);
        if (result >= 0)
            result =
                sd_bus_message_append(raw, "ssss", what, messages::kInhibitWho, why.c_str(), modeName(mode));
        const std::uint64_t left = microsecondsLeft(deadline_);
        if (left == 0) return timedOut();
        BusError error;
        sd_bus_message* rawReply = nullptr;
        if (result >= 0) result = sd_bus_call(bus_.get(), raw, left, &error.error, &rawReply);
        Message reply(rawReply);
        int received = -1;
        if (result >= 0) result = sd_bus_message_read(rawReply, "h", &received);
        if (result >= 0) {
            descriptor = ::fcntl(received, F_DUPFD_CLOEXEC, 3);
            if (descriptor < 0) result = -errno;
        }
        if (result >= 0) return {};
        if (result == -ETIMEDOUT) return timedOut();
        if (nobodyThere(error.error))
            return {NoLock::NoLogind, formatText(messages::kNoLogindFormat, error.text(result).c_str())};
        return {NoLock::Refused, formatText(messages::kRefusedFormat, error.text(result).c_str())};
    }

private:
    Attempt timedOut() const {
        return {NoLock::TimedOut,
                formatText(messages::kBusTimeoutFormat, static_cast<long long>(settings_.timeout.count()))};
    }

    const InhibitorSettings& settings_;
    const Clock::time_point deadline_;
    Bus bus_;
};

}  // namespace

const char* modeName(InhibitMode mode) {
    return mode == InhibitMode::Block ? "block" : "delay";
}

InhibitorLock::InhibitorLock(InhibitorLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)),
      mode_(other.mode_),
      noLock_(other.noLock_),
      problem_(std::move(other.problem_)) {}

InhibitorLock& InhibitorLock::operator=(InhibitorLock&& other) noexcept {
    if (this != &other) {
        release();
        descriptor_ = std::exchange(other.descriptor_, -1);
        mode_ = other.mode_;
        noLock_ = other.noLock_;
        problem_ = std::move(other.problem_);
    }
    return *this;
}

void InhibitorLock::release() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

InhibitorLock takeInhibitor(const InhibitorSettings& settings, const std::string& why) {
    InhibitorLock lock;
    Exchange exchange(settings);
    Attempt attempt = exchange.connect();
    if (!attempt.noLock)
        attempt = exchange.inhibit(messages::kInhibitBlockWhat, InhibitMode::Block, why, lock.descriptor_);
    if (!attempt.noLock) {
        lock.mode_ = InhibitMode::Block;
        return lock;
    }
    // Refused: logind takes delay only for shutdown and sleep.
    if (attempt.noLock == NoLock::Refused) {
        const std::string blockRefused = attempt.problem;
        attempt = exchange.inhibit(messages::kInhibitDelayWhat, InhibitMode::Delay, why, lock.descriptor_);
        if (!attempt.noLock) {
            lock.mode_ = InhibitMode::Delay;
            lock.problem_ = blockRefused;
            return lock;
        }
    }
    lock.noLock_ = attempt.noLock;
    lock.problem_ = attempt.problem;
    return lock;
}

}  // namespace velmora::host
