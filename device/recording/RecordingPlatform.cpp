#include "device/recording/RecordingPlatform.h"

namespace velmora::recording {
namespace {

// An opened device that records each transfer and its own closing.
class RecordingDevice final : public UsbDevice {
public:
    RecordingDevice(std::unique_ptr<UsbDevice> inner, std::string port, Clock& clock, RecordingWriter& writer,
                    Milliseconds origin)
        : inner_(std::move(inner)), port_(std::move(port)), clock_(clock), writer_(writer), origin_(origin) {}

    ~RecordingDevice() override {
        inner_.reset();
        Exchange exchange;
        exchange.kind = ExchangeKind::Close;
        exchange.port = port_;
        exchange.at = clock_.now() - origin_;
        writer_.write(std::move(exchange));
    }

    IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data, Milliseconds timeout) override {
        Exchange exchange;
        exchange.kind = ExchangeKind::Control;
        exchange.port = port_;
        exchange.setup = setup;
        // What goes to the hub is kept before the transfer, what comes from it after.
        if (!setup.isDeviceToHost() && setup.wLength > 0) exchange.data.assign(data, data + setup.wLength);
        const Milliseconds start = clock_.now();
        exchange.at = start - origin_;
        exchange.status = inner_->controlRequest(setup, data, timeout);
        exchange.took = clock_.now() - start;
        if (setup.isDeviceToHost() && setup.wLength > 0) exchange.data.assign(data, data + setup.wLength);
        const IOReturn status = exchange.status;
        writer_.write(std::move(exchange));
        return status;
    }

private:
    std::unique_ptr<UsbDevice> inner_;
    std::string port_;
    Clock& clock_;
    RecordingWriter& writer_;
    Milliseconds origin_;
};

}  // namespace

Exchange RecordingPlatform::begin(ExchangeKind kind, std::string port) const {
    Exchange exchange;
    exchange.kind = kind;
    exchange.port = std::move(port);
    exchange.at = clock_.now() - origin_;
    return exchange;
}

void RecordingPlatform::end(Exchange& exchange) const {
    exchange.took = clock_.now() - origin_ - exchange.at;
    writer_.write(exchange);
}

std::vector<UsbDeviceInfo> RecordingPlatform::listDevices() {
    Exchange exchange = begin(ExchangeKind::List);
    exchange.devices = inner_.listDevices();
    end(exchange);
    return exchange.devices;
}

UsbPlatform::ClaimResult RecordingPlatform::claimPort(const std::string& portPath) {
    Exchange exchange = begin(ExchangeKind::Claim, portPath);
    ClaimResult result = inner_.claimPort(portPath);
    exchange.status = result.status;
    exchange.problem = result.problem;
    end(exchange);
    return result;
}

UsbPlatform::OpenResult RecordingPlatform::openDevice(const UsbDeviceInfo& device) {
    Exchange exchange = begin(ExchangeKind::Open, device.portPath);
    exchange.device = device;
    OpenResult result = inner_.openDevice(device);
    exchange.status = result.status;
    end(exchange);
    if (result.device)
        result.device = std::make_unique<RecordingDevice>(std::move(result.device), device.portPath, clock_,
                                                          writer_, origin_);
    return result;
}

bool RecordingPlatform::setHotplugCallback(HotplugCallback callback) {
    Exchange exchange = begin(ExchangeKind::Watch);
    HotplugCallback recorded;
    if (callback) {
        recorded = [this, callback = std::move(callback)](UsbHotplugEvent event,
                                                          const UsbDeviceInfo& device) {
            Exchange hotplug = begin(ExchangeKind::Hotplug, device.portPath);
            hotplug.device = device;
            hotplug.arrived = event == UsbHotplugEvent::Arrived;
            writer_.write(std::move(hotplug));
            callback(event, device);
        };
    }
    exchange.result = inner_.setHotplugCallback(std::move(recorded));
    end(exchange);
    return exchange.result;
}

void RecordingPlatform::pollEvents(std::chrono::milliseconds timeout) {
    Exchange exchange = begin(ExchangeKind::Poll);
    inner_.pollEvents(timeout);
    end(exchange);
}

std::uint64_t RecordingPlatform::arrivalsAt(const std::string& portPath) {
    Exchange exchange = begin(ExchangeKind::Arrivals, portPath);
    exchange.count = inner_.arrivalsAt(portPath);
    end(exchange);
    return exchange.count;
}

bool RecordingPlatform::waitForArrival(const std::string& portPath, std::uint64_t seen, Milliseconds deadline,
                                       Clock& clock) {
    Exchange exchange = begin(ExchangeKind::Wait, portPath);
    exchange.count = seen;
    exchange.result = inner_.waitForArrival(portPath, seen, deadline, clock);
    end(exchange);
    return exchange.result;
}

}  // namespace velmora::recording
