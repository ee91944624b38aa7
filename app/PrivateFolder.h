#pragma once
// A folder only this user can enter, for the boot-args snapshot and the copy of
// the driver bundle. A fixed name straight in /tmp could be planted beforehand by
// another user, as a link or a file of their choosing.
#include <filesystem>
#include <optional>

namespace velmora {

// Makes (if needed) and checks <base>/<name>: a real folder, not a link, owned
// by this user and closed to everyone else. Empty when that cannot be had.
std::optional<std::filesystem::path> privateFolderIn(const std::filesystem::path& base,
                                                     const std::filesystem::path& name);

// $XDG_RUNTIME_DIR/velmora, or /tmp/velmora-<uid> where there is no runtime folder.
std::optional<std::filesystem::path> privateRuntimeFolder();

}  // namespace velmora
