#pragma once
// A production station: waits for supported hubs and updates each one as it is
// plugged in, in parallel with the runs in progress, never twice while it stays
// plugged in (StationUnits says what a unit is). The operator sees one line per
// finished unit and the tally; the first interrupt stops taking new units and lets
// the runs finish, the second abandons them.
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/WorkerGroup.h"
#include "firmware/FirmwareBuffer.h"
#include "production/StationDisplay.h"
#include "production/StationUnits.h"
#include "production/StationWatch.h"
#include "production/UnitIdQueue.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

class SupportedDeviceTable;
class StationSerials;

// How often the station looks at the bus for new and departed units.
inline constexpr Milliseconds kStationLookInterval{250};

struct StationContext {
    Clock& clock;
    UsbPlatform& platform;
    const SupportedDeviceTable& table;
    // A connection of its own to the hub on a port.
    std::function<std::unique_ptr<HubConnection>(const std::string& portPath)> connect;
    // Takes each whole line the operator sees; called from any of the station's threads, one at a time.
    std::function<void(const std::string& line)> show;
    RunObserver* observer = nullptr;
    Console* console = nullptr;
    FlashBackups* backups = nullptr;  // the flash kept before each erase; none: no backups
    // Each unit's own serial number; none: every unit gets the image as it is.
    StationSerials* serials = nullptr;
    RunIds* runIds = nullptr;       // where each unit's run gets its name; none: each makes its own
    StationWatch* watch = nullptr;  // told of each unit and phase (a line's monitoring); none: nobody
    // The image's signature as the gate judged it, for every unit's record.
    const ImageSignature* imageSignature = nullptr;
    StationDisplay* display = nullptr;  // shows each unit (the window's tiles); none: nobody
    UnitIdQueue* unitIds = nullptr;     // the IDs scanned for the units; none: units have no ID
};

enum class StationEnd { Finished, Abandoned };

class Station {
public:
    Station(StationContext context, const FirmwareBuffer& image, std::string imagePath,
            StationSettings settings);
    ~Station();  // waits for the unit runs still going
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Runs until --count units finished, the operator stopped it, or its serial
    // numbers ran out (then the station's block is closed). interrupts
    // counts the operator's interrupts (a signal handler may raise it). After
    // Abandoned, the unit runs still going are left to themselves: a program ends
    // there; a test calls waitForUnits.
    StationEnd run(const std::atomic<int>& interrupts);
    void waitForUnits();
    const StationUnits& units() const { return units_; }

    // A scanned unit ID (the context's queue): for the next unit to arrive, or,
    // with port, for the unit on that port: the one running there now, else the
    // next to arrive there. The units found at the station's first look that
    // found no ID waiting take the IDs scanned while they run first, in port
    // order. Refused without a queue.
    ScanResult scan(const std::string& text, const std::optional<std::string>& port = std::nullopt);

private:
    class UnitTrack;

    bool takeInterrupts(const std::atomic<int>& interrupts);
    // interrupts: the operator's, as run() was given them.
    void startUnit(const std::string& port, const std::atomic<int>& interrupts);
    void runUnit(const std::shared_ptr<UnitTrack>& track, const FirmwareBuffer& image,
                 std::optional<std::uint64_t> serial);
    // The unit starting on port, known to the display and to scans for its port.
    std::shared_ptr<UnitTrack> trackUnit(const std::string& port, const std::string& serial);
    // The first of the units started at the first look that still runs without an ID.
    std::optional<std::string> startedUnitWithoutIdLocked();
    void endSerials();
    void show(const std::string& line);
    void showTally();
    void watchTaking(bool taking);

    StationContext context_;
    const FirmwareBuffer& image_;
    std::string imagePath_;
    StationUnits units_;
    int interruptsSeen_ = 0;
    bool halted_ = false;  // the serial numbers ran out: said once
    std::mutex showMutex_;
    std::mutex verdictMutex_;  // a unit's verdict line before any tally that counts it
    std::mutex tracksMutex_;
    std::map<std::string, std::shared_ptr<UnitTrack>> tracks_;  // the units running, by port
    bool firstLook_ = true;                                     // the station's loop only
    std::deque<std::string> startedWithoutId_;  // started at the first look without an ID, in port order
    WorkerGroup workers_{context_.clock};
};

}  // namespace velmora
