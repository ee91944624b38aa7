#pragma once
// Writing a whole file so that the target holds either its old contents or all of
// the new ones, never a torn image: the bytes go to a temporary file beside the
// target, which is then renamed over it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

struct FileWriteResult {
    bool written = false;
    std::string error;  // the system's reason when not written
};

FileWriteResult writeFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size);

}  // namespace velmora
