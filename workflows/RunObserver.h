#pragma once
// What a run tells whoever keeps its record (the traceability history): that it
// started and on which image, each phase it enters, what the hub showed of itself,
// and how it ended. A front end only connects an observer to the WorkflowContext;
// the workflows feed it. Each run gets a log of its own, so parallel runs can share
// one observer.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/RunId.h"
#include "device/HubConnection.h"
#include "workflows/ImageSignature.h"
#include "workflows/RunOperation.h"

namespace velmora {

// The steps a hub operation passes through, in the words the history keeps.
enum class RunPhase { Open, Backup, Erase, Write, Read, Verify, Reset };
const char* runPhaseName(RunPhase phase);
// The phase a word names; nothing for a word this program does not know.
std::optional<RunPhase> runPhaseNamed(const std::string& name);

struct RunStart {
    RunOperation operation = RunOperation::Update;
    // The image written, when the operation writes one.
    std::string imagePath{};
    const std::vector<std::uint8_t>* imageBytes = nullptr;
    std::string imageSerial{};
    // The image's signature as the gate judged it; none: not judged.
    const ImageSignature* imageSignature = nullptr;
    // A recovery: the failed or unfinished run whose backup it writes back.
    RunId recoveredRun{};
    // The run's own name, given by the run as it starts.
    RunId run{};
    // The unit's own ID (a label scanned at a station); none: not given.
    std::optional<std::string> unitId{};
};

struct RunEnd {
    bool succeeded = false;
    std::string failure;  // the failure line shown, without its line ends
};

class RunLog {
public:
    virtual ~RunLog() = default;
    virtual void phaseStarted(RunPhase phase) = 0;
    virtual void hubSeen(const HubConnection::HubSighting& sighting) = 0;
    // The flash as it was before the erase is kept as the backup named sha256.
    virtual void backedUp(const std::string& sha256) { (void)sha256; }
    // The serial number the hub reported after the update (empty: it showed none).
    virtual void serialRead(const std::string& serial) { (void)serial; }
    // The unit's ID, given (scanned) after the run had started.
    virtual void unitIdentified(const std::string& unitId) { (void)unitId; }
    virtual void ended(const RunEnd& end) = 0;
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // Called from the run's own thread; never null.
    virtual std::unique_ptr<RunLog> runStarted(const RunStart& start) = 0;
};

}  // namespace velmora
