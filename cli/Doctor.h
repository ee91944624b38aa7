#pragma once
// "doctor": for every supported hub attached, why it can or cannot be updated
// now: its device node, the access rule, the kernel driver that holds it, the
// update driver module, module signing, another run holding it, and the code and
// firmware it runs; and for the machine, whether an update can hold sleep and
// shutdown off while it writes. Exit status 0 only when every hub listed is ready.
#include <string>
#include <vector>

#include "cli/CommandContext.h"

namespace velmora::cli {

enum class CheckState { Ok, Warning, Failed };  // a warning does not stop an update

struct DoctorCheck {
    std::string name;
    CheckState state = CheckState::Ok;
    std::string text;  // what was found; for a problem, also how to fix it
};

struct DoctorHub {
    std::string port;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::vector<DoctorCheck> checks;

    bool ready() const;
};

ExitStatus runDoctor(const CommandContext& command);

}  // namespace velmora::cli
