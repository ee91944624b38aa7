#pragma once
// The little JSON the command line writes: quoted, escaped strings.
#include <string>
#include <string_view>

namespace velmora::cli {

std::string jsonString(std::string_view text);

}  // namespace velmora::cli
