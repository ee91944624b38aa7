#pragma once
// A production station as both front ends start it: its options read and
// checked the same way, then everything it needs before its first unit (the
// image admitted, the figures' address bound and file checked, the serial
// numbers' first block or the station's name held), and the context the one
// Station runs in. The command line prints the station's lines; the window
// shows them in its station view.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "environment/StationMonitor.h"
#include "firmware/FirmwareBuffer.h"
#include "production/Station.h"
#include "production/StationSerials.h"
#include "workflows/ImageChecks.h"
#include "workflows/RunPlan.h"
#include "workflows/SerialNumberSource.h"

namespace velmora {

class HubEnvironment;

struct StationRequest {
    std::string imagePath;
    StationSettings settings;  // --count, --expect-version
    bool allowNewIds = false;
    // Each unit's own serial number: set by --serial-digits (and --serial-prefix).
    std::optional<std::string> serialPrefix;
    std::optional<int> serialDigits;
    std::uint64_t serialStart = 1;
    std::uint64_t serialBlock = kDefaultSerialBlock;
    MonitorSettings monitor;  // --metrics, --metrics-file
    std::string stationName;  // empty: the host's name
};

// The station's options that take a value, as both front ends spell them.
inline const std::vector<std::string>& stationValueOptions() {
    static const std::vector<std::string> options{"--count",         "--expect-version", "--serial-prefix",
                                                  "--serial-digits", "--serial-start",   "--serial-block",
                                                  "--metrics",       "--metrics-file"};
    return options;
}

// Takes one of stationValueOptions with its value into request. False with
// error, worded for the operator, when the value is not one the option takes.
bool readStationOption(const std::string& option, const std::string& value, StationRequest& request,
                       std::string& error);
// The checks across options, once all are read. False with error.
bool checkStationRequest(const StationRequest& request, std::string& error);

// The station's plan, on plan's hubs and keeps: each arriving hub, the image
// written into each (read from its file), and the figures' file written.
RunPlan stationPlan(const StationRequest& request, RunPlan plan);

// The station's name: the one asked for, else the host's.
std::string stationNameOf(const StationRequest& request);

class StationSetup {
public:
    // Everything before the first unit, for an image the update's gate admitted
    // (the front end words a refusal), in this order: the figures (tell: the
    // file's troubles, for the operator), the serial numbers or the station's
    // name. Null with error (a whole line, "station: ...") when the station must
    // not start; serverAway set when it is because the line's server cannot be
    // reached.
    static std::unique_ptr<StationSetup> prepare(HubEnvironment& environment, const StationRequest& request,
                                                 ImageAdmission admitted,
                                                 std::function<void(const std::string&)> tell,
                                                 std::string& error, bool& serverAway);
    ~StationSetup();
    StationSetup(const StationSetup&) = delete;
    StationSetup& operator=(const StationSetup&) = delete;

    // The context the station runs in: show takes its lines; display and
    // unitIds as the front end has them (none: nobody, no IDs).
    StationContext context(std::function<void(const std::string&)> show, StationDisplay* display = nullptr,
                           UnitIdQueue* unitIds = nullptr);
    const FirmwareBuffer& image() const { return image_; }
    const ImageSignature& signature() const { return signature_; }
    const std::string& name() const { return name_; }
    // Where /metrics is served; empty when it is not.
    std::vector<std::string> metricsAddresses() const;

private:
    StationSetup(HubEnvironment& environment, const StationRequest& request, ImageAdmission admitted);
    bool startMonitor(std::function<void(const std::string&)> tell, std::string& error);
    bool takeSerials(std::string& error, bool& serverAway);
    bool holdName(std::string& error);

    HubEnvironment& environment_;
    StationRequest request_;
    std::string name_;
    FirmwareBuffer image_;
    ImageSignature signature_;
    std::unique_ptr<StationMonitor> monitor_;
    std::unique_ptr<SerialNumberSource> counter_;  // the serial numbers' source, or the name's holder
    std::optional<StationSerials> serials_;
};

}  // namespace velmora
