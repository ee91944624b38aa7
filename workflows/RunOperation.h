#pragma once
// What a run did to its hub, named once: the words the history keeps for each
// operation, and which of them flash a unit (a line counts those as its units;
// reads, erases and verifies are counted apart).
#include <optional>
#include <string>

namespace velmora {

enum class RunOperation { Update, Scalar, Station, Restore, Recover, Read, Erase, Verify };

// "update", "scalar", "station", "restore", "recover", "read", "erase", "verify".
const char* runOperationName(RunOperation operation);
// The operation a stored word names; nothing for a word this program does not know.
std::optional<RunOperation> runOperationNamed(const std::string& name);
// True for the operations that write a unit's firmware.
bool flashesUnit(RunOperation operation);

}  // namespace velmora
