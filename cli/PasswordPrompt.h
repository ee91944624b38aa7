#pragma once
// The password of a secret key, asked as minisign asks it: the question on
// standard error, the answer one line of standard input, not echoed when that is
// a terminal. From a pipe the line is read as it comes, for scripts and tests.
#include <optional>
#include <ostream>
#include <string>

namespace velmora::cli {

// The longest password read, as minisign's.
inline constexpr std::size_t kLongestPassword = 1024;

// The line typed after prompt; nothing at the end of the input or for a line
// longer than kLongestPassword.
std::optional<std::string> askPassword(const std::string& prompt, std::ostream& err);

}  // namespace velmora::cli
