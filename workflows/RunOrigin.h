#pragma once
// Where the hub a run drives comes from. Only a real hub's runs stand for a
// unit: a simulated hub's, or one of the testbed's emulated bus, are a bench's,
// and what they keep (history rows, backups, serial numbers) is kept apart by
// this mark wherever it is kept, so nothing of theirs is ever taken for a real
// hub's on the same port. A replay keeps nothing at all.
#include <optional>
#include <string>

namespace velmora {

enum class RunOrigin { Real, Simulated, Testbed };

// The word kept in a history row, a backup's entry and a serial number's row:
// empty for a real hub (as every row before the mark), "simulated", "testbed".
const char* storedOrigin(RunOrigin origin);
// The origin of a stored word; nothing for one this program does not know.
std::optional<RunOrigin> originStored(const std::string& word);
// The word a listing shows: "real", "simulated", "testbed".
const char* originName(RunOrigin origin);
// The word a listing shows for a stored word ("real" for empty); the word
// itself when this program does not know it.
std::string originNameOfStored(const std::string& word);

}  // namespace velmora
