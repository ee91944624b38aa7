#include "testbed/PreloadEnvironment.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(VELMORA_UNDER_ADDRESS_SANITIZER)
extern "C" void __asan_init();
#endif

namespace velmora::usbfs {

namespace {

constexpr const char* kPreloadVariable = "LD_PRELOAD";
constexpr const char* kSelfExecutable = "/proc/self/exe";

// The shared sanitizer runtime this program was linked with; empty when there is
// none or it is linked in statically (then it comes first anyway).
std::string sanitizerRuntime() {
#if defined(VELMORA_UNDER_ADDRESS_SANITIZER)
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&__asan_init), &info) != 0 && info.dli_fname != nullptr &&
        std::strstr(info.dli_fname, "libasan") != nullptr)
        return info.dli_fname;
#endif
    return {};
}

std::string currentPreload() {
    const char* value = std::getenv(kPreloadVariable);
    return value != nullptr ? value : "";
}

void appendEntry(std::string& list, const std::string& entry) {
    if (entry.empty() || list.find(entry) != std::string::npos) return;
    if (!list.empty()) list += ':';
    list += entry;
}

}  // namespace

std::string preloadListForChild() {
    std::string list;
    appendEntry(list, sanitizerRuntime());
    appendEntry(list, kPreloadLibrary);
    // The rest of the old list, entry by entry, without repeating ours.
    std::string rest = currentPreload();
    for (std::size_t start = 0; start <= rest.size();) {
        std::size_t end = rest.find_first_of(": ", start);
        if (end == std::string::npos) end = rest.size();
        appendEntry(list, rest.substr(start, end - start));
        start = end + 1;
    }
    return list;
}

bool isPreloaded() {
    return currentPreload().find("libumockdev-preload") != std::string::npos;
}

void restartUnderPreload(char** argv) {
    const std::string list = preloadListForChild();
    if (setenv(kPreloadVariable, list.c_str(), 1) != 0) return;
    execv(kSelfExecutable, argv);
}

}  // namespace velmora::usbfs
