#include "device/recording/ReplayPlatform.h"

#include <algorithm>
#include <limits>

#include "app/Hex.h"
#include "app/PrintableText.h"

namespace velmora::recording {
namespace {

// How long a call recorded after a hot-plug event waits for a poll to deliver it.
// A pump polls every tenth of a second; a run that has gone elsewhere than the
// recording, or that stopped polling, must not hang on it.
constexpr std::chrono::seconds kHotplugPatience{2};

// A device opened from the recording: its transfers are matched on its port.
class ReplayDevice final : public UsbDevice {
public:
    ReplayDevice(ReplayPlatform& platform, std::string port) : platform_(platform), port_(std::move(port)) {}

    IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data, Milliseconds) override {
        return platform_.replayTransfer(port_, setup, data);
    }

private:
    ReplayPlatform& platform_;
    std::string port_;
};

bool isSoft(ExchangeKind kind) {
    // Closes, arrival counts and what listings saw of a port follow from the calls
    // around them; a program that looks at the bus once more or less has not
    // changed what it asks of the hub.
    return kind == ExchangeKind::Close || kind == ExchangeKind::Arrivals || kind == ExchangeKind::List;
}

std::string portSuffix(const std::string& port) {
    std::string text;
    if (port.empty()) return text;
    text += " on ";
    text += port;
    return text;
}

}  // namespace

std::string divergenceLine(std::uint64_t number, const Exchange* recorded, const std::string& sent) {
    std::string line = "Replay diverged at exchange ";
    line += std::to_string(number);
    line += ": ";
    if (recorded != nullptr) {
        line += "recorded ";
        line += describeExchange(*recorded);
    } else {
        line += "the recording holds nothing more";
    }
    line += ", sent ";
    line += sent;
    // One line whatever the recording holds: its port names and strings are a
    // file's words, and must not clear the screen or forge a line of their own.
    return printableText(line);
}

ReplayPlatform::ReplayPlatform(Recording recording, Clock& clock)
    : clock_(clock), header_(std::move(recording.header)) {
    // Every port the recording knows, in the order the listings showed them.
    for (const Exchange& exchange : recording.exchanges) {
        if (exchange.kind != ExchangeKind::List) continue;
        for (const UsbDeviceInfo& device : exchange.devices)
            if (std::find(portOrder_.begin(), portOrder_.end(), device.portPath) == portOrder_.end())
                portOrder_.push_back(device.portPath);
    }
    for (Exchange& exchange : recording.exchanges) {
        endNumber_ = std::max(endNumber_, exchange.number + 1);
        switch (exchange.kind) {
            case ExchangeKind::List: addSightings(exchange); break;
            case ExchangeKind::Watch: watches_.push_back(exchange.result); break;
            case ExchangeKind::Hotplug: hotplugs_.push_back(std::move(exchange)); break;
            // How often the bus was polled is the pump's timing, not the hub's: the
            // events are delivered by their numbers instead.
            case ExchangeKind::Poll: break;
            default: {
                std::string port = exchange.port;
                ports_[port].exchanges.push_back(std::move(exchange));
            }
        }
    }
}

// A listing is kept as what it saw on each port, in that port's own order: with
// several hubs at work the listings of one worker fall between the exchanges of
// another differently from run to run, and each port must still see its hub come
// and go as it did.
void ReplayPlatform::addSightings(const Exchange& listing) {
    for (const std::string& port : portOrder_) {
        Exchange sighting;
        sighting.number = listing.number;
        sighting.kind = ExchangeKind::List;
        sighting.port = port;
        sighting.took = listing.took;
        for (const UsbDeviceInfo& device : listing.devices)
            if (device.portPath == port) sighting.devices.push_back(device);
        ports_[port].exchanges.push_back(std::move(sighting));
    }
}

std::optional<std::string> ReplayPlatform::divergence() const {
    std::lock_guard lock(mutex_);
    return divergence_;
}

std::size_t ReplayPlatform::unplayed() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [port, queue] : ports_)
        count += static_cast<std::size_t>(std::count_if(queue.exchanges.begin(), queue.exchanges.end(),
                                                        [](const Exchange& e) { return !isSoft(e.kind); }));
    return count;
}

void ReplayPlatform::diverge(std::string line) {
    if (!divergence_) divergence_ = std::move(line);
    progressed_.notify_all();
}

void ReplayPlatform::skipSoft(PortQueue& queue) {
    while (!queue.exchanges.empty() && isSoft(queue.exchanges.front().kind)) passSoft(queue);
}

void ReplayPlatform::passSoft(PortQueue& queue) {
    Exchange& front = queue.exchanges.front();
    if (front.kind == ExchangeKind::Arrivals) queue.arrivals = front.count;
    if (front.kind == ExchangeKind::List) queue.seen = std::move(front.devices);
    queue.exchanges.pop_front();
}

std::uint64_t ReplayPlatform::nextCallNumber() {
    std::uint64_t next = std::numeric_limits<std::uint64_t>::max();
    for (const auto& [port, queue] : ports_) {
        const auto call = std::find_if(queue.exchanges.begin(), queue.exchanges.end(),
                                       [](const Exchange& e) { return !isSoft(e.kind); });
        if (call != queue.exchanges.end()) next = std::min(next, call->number);
    }
    return next;
}

void ReplayPlatform::awaitHotplugsBefore(std::unique_lock<std::mutex>& lock, std::uint64_t number) {
    if (hotplugsStalled_) return;
    const bool delivered = progressed_.wait_for(lock, kHotplugPatience, [&] {
        return divergence_ || !callback_ || hotplugs_.empty() || hotplugs_.front().number > number;
    });
    // Once an event has not come in time, no later call waits for one: the replay
    // goes on at the calls' pace (and diverges where the run then differs).
    if (!delivered) hotplugsStalled_ = true;
}

std::optional<Exchange> ReplayPlatform::take(std::unique_lock<std::mutex>& lock, const std::string& port,
                                             ExchangeKind kind, const std::string& sent) {
    if (divergence_) return std::nullopt;
    PortQueue& queue = ports_[port];
    skipSoft(queue);
    if (!queue.exchanges.empty()) {
        awaitHotplugsBefore(lock, queue.exchanges.front().number);
        if (divergence_) return std::nullopt;
        skipSoft(queue);  // a listing on another thread may have passed some meanwhile
    }
    if (queue.exchanges.empty()) {
        diverge(divergenceLine(endNumber_, nullptr, sent));
        return std::nullopt;
    }
    if (queue.exchanges.front().kind != kind) {
        diverge(divergenceLine(queue.exchanges.front().number, &queue.exchanges.front(), sent));
        return std::nullopt;
    }
    Exchange exchange = std::move(queue.exchanges.front());
    queue.exchanges.pop_front();
    progressed_.notify_all();  // a recorded event may now be due
    return exchange;
}

std::vector<UsbDeviceInfo> ReplayPlatform::listDevices() {
    Milliseconds took{0};
    std::vector<UsbDeviceInfo> devices;
    {
        std::lock_guard lock(mutex_);
        if (divergence_) return {};
        // Each port answers with its next sighting when one is due, else with
        // the last one: past the recording's end the bus stays as last seen.
        for (const std::string& port : portOrder_) {
            PortQueue& queue = ports_[port];
            while (!queue.exchanges.empty() && isSoft(queue.exchanges.front().kind)) {
                const bool sighting = queue.exchanges.front().kind == ExchangeKind::List;
                took = std::max(took, sighting ? queue.exchanges.front().took : Milliseconds(0));
                passSoft(queue);
                if (sighting) break;
            }
            devices.insert(devices.end(), queue.seen.begin(), queue.seen.end());
        }
    }
    if (took.count() > 0) clock_.sleepFor(took);
    return devices;
}

UsbPlatform::ClaimResult ReplayPlatform::claimPort(const std::string& portPath) {
    std::optional<Exchange> recorded;
    {
        std::unique_lock lock(mutex_);
        if (divergence_) return {nullptr, kIOReturnExclusiveAccess, {}};
        // A claim is this machine's own lock, not a word to the hub: a recording
        // without one (an imported capture) grants it.
        if (nextKind(portPath) != ExchangeKind::Claim)
            return {std::make_unique<PortClaim>(), kIOReturnSuccess, {}};
        recorded = take(lock, portPath, ExchangeKind::Claim, "claim" + portSuffix(portPath));
    }
    if (!recorded) return {nullptr, kIOReturnExclusiveAccess, {}};
    if (recorded->took.count() > 0) clock_.sleepFor(recorded->took);
    if (recorded->status != kIOReturnSuccess) return {nullptr, recorded->status, recorded->problem};
    return {std::make_unique<PortClaim>(), kIOReturnSuccess, {}};
}

std::optional<ExchangeKind> ReplayPlatform::nextKind(const std::string& port) {
    PortQueue& queue = ports_[port];
    for (const Exchange& exchange : queue.exchanges)
        if (!isSoft(exchange.kind)) return exchange.kind;
    return std::nullopt;
}

UsbPlatform::OpenResult ReplayPlatform::openDevice(const UsbDeviceInfo& device) {
    std::optional<Exchange> recorded;
    {
        std::unique_lock lock(mutex_);
        std::string sent = "open ";
        sent += device.platformKey;
        sent += portSuffix(device.portPath);
        recorded = take(lock, device.portPath, ExchangeKind::Open, sent);
        if (recorded && recorded->device.platformKey != device.platformKey) {
            diverge(divergenceLine(recorded->number, &*recorded, sent));
            recorded.reset();
        }
    }
    if (!recorded) return {nullptr, kIOReturnNoDevice};
    if (recorded->took.count() > 0) clock_.sleepFor(recorded->took);
    if (recorded->status != kIOReturnSuccess) return {nullptr, recorded->status};
    return {std::make_unique<ReplayDevice>(*this, device.portPath), kIOReturnSuccess};
}

IOReturn ReplayPlatform::replayTransfer(const std::string& port, const UsbSetup& setup, std::uint8_t* data) {
    Exchange sentExchange;
    sentExchange.kind = ExchangeKind::Control;
    sentExchange.setup = setup;
    sentExchange.port = port;
    const std::string sent = describeExchange(sentExchange);
    std::optional<Exchange> recorded;
    {
        std::unique_lock lock(mutex_);
        recorded = take(lock, port, ExchangeKind::Control, sent);
        if (!recorded) return kReplayDivergedStatus;
        const UsbSetup& expected = recorded->setup;
        if (expected.wireBytes() != setup.wireBytes()) {
            diverge(divergenceLine(recorded->number, &*recorded, sent));
            return kReplayDivergedStatus;
        }
        if (!setup.isDeviceToHost() && setup.wLength > 0) {
            const auto differs = std::mismatch(recorded->data.begin(), recorded->data.end(), data);
            if (differs.first != recorded->data.end()) {
                const auto at = static_cast<std::size_t>(differs.first - recorded->data.begin());
                std::string line = divergenceLine(recorded->number, &*recorded, sent);
                line += " with ";
                line += hexText(*differs.second, 2);
                line += " at data byte ";
                line += std::to_string(at);
                line += " where ";
                line += hexText(*differs.first, 2);
                line += " was recorded";
                diverge(std::move(line));
                return kReplayDivergedStatus;
            }
        }
    }
    if (setup.isDeviceToHost() && setup.wLength > 0)
        std::copy(recorded->data.begin(), recorded->data.end(), data);
    if (recorded->took.count() > 0) clock_.sleepFor(recorded->took);
    return recorded->status;
}

bool ReplayPlatform::setHotplugCallback(HotplugCallback callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
    progressed_.notify_all();  // calls waiting for an event to be delivered wait no more without one
    if (watches_.empty()) return true;
    const bool watching = watches_.front();
    watches_.pop_front();
    return watching;
}

void ReplayPlatform::pollEvents(std::chrono::milliseconds timeout) {
    std::vector<Exchange> events;
    HotplugCallback callback;
    {
        std::unique_lock lock(mutex_);
        // Until an event's turn comes, a poll waits as the platform's would.
        const bool due = progressed_.wait_for(lock, timeout, [this] {
            return !divergence_ && !delivering_ && !hotplugs_.empty() && hotplugDue(hotplugs_.front());
        });
        if (!due) return;
        for (const Exchange& event : hotplugs_) {
            if (!hotplugDue(event)) break;
            events.push_back(event);
        }
        delivering_ = true;
        callback = callback_;
    }
    // Delivered without the lock, as a platform delivers them: a listener may ask
    // for the bus. The events leave the queue once handed over, which is what a
    // call recorded after them waits for.
    if (callback)
        for (const Exchange& event : events)
            callback(event.arrived ? UsbHotplugEvent::Arrived : UsbHotplugEvent::Left, event.device);
    {
        std::lock_guard lock(mutex_);
        hotplugs_.erase(hotplugs_.begin(), hotplugs_.begin() + static_cast<std::ptrdiff_t>(events.size()));
        delivering_ = false;
    }
    progressed_.notify_all();
}

std::uint64_t ReplayPlatform::arrivalsAt(const std::string& portPath) {
    std::lock_guard lock(mutex_);
    PortQueue& queue = ports_[portPath];
    // Closes before the count are passed; the count is the recorded one if it comes next.
    while (!queue.exchanges.empty() && queue.exchanges.front().kind == ExchangeKind::Close)
        queue.exchanges.pop_front();
    if (!queue.exchanges.empty() && queue.exchanges.front().kind == ExchangeKind::Arrivals) {
        queue.arrivals = queue.exchanges.front().count;
        queue.exchanges.pop_front();
    }
    return queue.arrivals;
}

bool ReplayPlatform::waitForArrival(const std::string& portPath, std::uint64_t seen, Milliseconds deadline,
                                    Clock& clock) {
    std::optional<Exchange> recorded;
    {
        std::unique_lock lock(mutex_);
        // A recording without waits (an imported capture) shows the hub's return
        // only by the open of its new device that comes next.
        if (!divergence_ && nextKind(portPath) == ExchangeKind::Open) {
            PortQueue& queue = ports_[portPath];
            queue.arrivals = std::max(queue.arrivals, seen + 1);
            return true;
        }
        recorded = take(lock, portPath, ExchangeKind::Wait, "wait for an arrival" + portSuffix(portPath));
        if (recorded) {
            PortQueue& queue = ports_[portPath];
            if (recorded->result) queue.arrivals = std::max(queue.arrivals, recorded->count + 1);
        }
    }
    // Once diverged, every wait lasts to its deadline, as a platform's that sees no arrival.
    if (!recorded) return UsbPlatform::waitForArrival(portPath, 0, deadline, clock);
    if (recorded->took.count() > 0) clock.sleepFor(recorded->took);
    return recorded->result;
}

}  // namespace velmora::recording
