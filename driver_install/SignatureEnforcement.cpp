#include "driver_install/SignatureEnforcement.h"

#include <fstream>
#include <sstream>
#include <string>

namespace velmora::driver {
namespace {

constexpr const char* kSignatureEnforcementParameter = "sys/module/module/parameters/sig_enforce";
// Reads e.g. "none [integrity] confidentiality": the bracketed mode is in force,
// and either mode above none rejects unsigned modules.
constexpr const char* kLockdownState = "sys/kernel/security/lockdown";

std::string fileText(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

bool moduleSignaturesEnforced(const std::filesystem::path& systemRoot) {
    if (fileText(systemRoot / kSignatureEnforcementParameter).starts_with("Y")) return true;
    const std::string lockdown = fileText(systemRoot / kLockdownState);
    return lockdown.find("[integrity]") != std::string::npos ||
           lockdown.find("[confidentiality]") != std::string::npos;
}

}  // namespace velmora::driver
