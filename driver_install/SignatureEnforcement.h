#pragma once
// Whether the running kernel refuses unsigned modules: it does when it was told
// to (module.sig_enforce) and when Secure Boot has locked it down.
#include <filesystem>

namespace velmora::driver {

// systemRoot is "/" but for tests, which lay out a fake /sys below it.
bool moduleSignaturesEnforced(const std::filesystem::path& systemRoot = "/");

}  // namespace velmora::driver
