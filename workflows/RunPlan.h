#pragma once
// What a command that touches a hub (or writes a file a run depends on) is about
// to do, stated whole before it does any of it: the hubs it acts on, the bytes it
// writes into them, the files it reads and the files it writes, and what it keeps.
// The composition root admits a plan or refuses it with one reason
// (HubEnvironment::admitPlan), and only an admitted plan runs; a workflow may carry
// the admitted plan along.
#include <optional>
#include <string>
#include <vector>

#include "workflows/ImageChecks.h"

namespace velmora {

// Which hubs the command acts on.
enum class PlanHubs {
    None,          // no hub at all (recording import, image edit)
    TheOneHub,     // the one supported hub attached; several must be told apart
    NamedPorts,    // the ports in RunPlan::ports
    AllHubs,       // every supported hub attached (--all)
    EachListed,    // every hub is looked at, none written (list, detect)
    EachArriving,  // each hub as it arrives (the station)
};

// Where the bytes written into a hub come from.
enum class BytesSource {
    None,       // nothing is written into a flash
    Erased,     // the flash is erased and nothing else written
    ImageFile,  // an image file, admitted for its use
    Backup,     // a flash kept before an earlier erase (restore, recover)
};

struct PlannedBytes {
    BytesSource source = BytesSource::None;
    std::string path;  // the image file, or the backup's name or file
    ImageUse use = ImageUse::Update;
    bool allowNewIds = false;
};

// What an output file holds, for the words of a refusal.
enum class OutputKind {
    FlashContents,  // read OUT
    Recording,      // --record, recording import's OUT
    EditedImage,    // image edit -o
    MetricsFile,    // the station's figures for node_exporter
};

struct PlannedOutput {
    std::string path;  // "-" is standard output, which no rule concerns
    OutputKind kind = OutputKind::FlashContents;
};

// What the run keeps of itself.
struct RunKeeping {
    bool backups = false;                  // the flash before every erase
    bool history = false;                  // a row per run
    std::optional<std::string> recording;  // --record FILE
};

struct RunPlan {
    std::string command;  // as the user names it: "update", "recording import"
    PlanHubs hubs = PlanHubs::None;
    std::vector<std::string> ports;  // for NamedPorts
    PlannedBytes bytes;
    std::vector<std::string> reads;  // the command's input files
    std::vector<PlannedOutput> writes;
    RunKeeping keeps;
};

// Why a plan was refused: the rule it broke.
enum class PlanRefusal { None, Hubs, Bytes, Files };

struct PlanVerdict {
    PlanRefusal refusal = PlanRefusal::None;
    std::string reason;  // one line, naming what broke the rule
    // The ports the plan acts on once resolved (TheOneHub: the one attached, or
    // none when none is; AllHubs: every one; NamedPorts: those named).
    std::vector<std::string> ports;
    // For an ImageFile plan: the image admitted, whose bytes are the ones the run
    // writes (the file is not read again), or the refusal with its words.
    std::optional<ImageAdmission> image;

    bool admitted() const { return refusal == PlanRefusal::None; }
};

}  // namespace velmora
