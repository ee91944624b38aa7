#pragma once
// umockdev works by preloading a library that redirects /sys, /dev and udev's
// netlink socket into the testbed. A program under AddressSanitizer needs the
// sanitizer's runtime first in the preload list, or it refuses to start, so the
// list is built here rather than written by hand.
#include <string>

namespace velmora::usbfs {

inline constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

// The LD_PRELOAD value for a program started from this one: the sanitizer runtime
// this program uses (if any), umockdev's library, then what was preloaded before.
std::string preloadListForChild();

// True when this process already runs with umockdev's library preloaded.
bool isPreloaded();

// Starts this program again with umockdev's library preloaded, same arguments.
// Returns only if that is impossible; the caller then reports and exits.
void restartUnderPreload(char** argv);

}  // namespace velmora::usbfs
