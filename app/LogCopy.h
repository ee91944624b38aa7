#pragma once
// "Get Log": the log file copied into a folder the user looks at (the desktop),
// replacing an older copy. No shell is involved, so no path is ever interpreted.
#include <string>

namespace velmora {

inline constexpr const char* kLogCopyName = "Velmora.log";

// Creates the folder when it is missing. False when the log is missing or the copy
// cannot be made; an older copy is then left as it was.
bool copyLogFile(const std::string& logPath, const std::string& folder);

}  // namespace velmora
