#pragma once
// Whether a driver load needs a restart before the driver can work, and the
// question put to the user when it does.
#include <string_view>

namespace velmora::driver {

// The boot setting that, once in force, makes the restart unnecessary: the
// enrolment of the key that signs the module, as recorded in the snapshot.
inline constexpr std::string_view kSigningKeyEnrolledSetting = "brennic-signing-key=enrolled";

inline constexpr std::string_view kRestartPromptMessage =
    "Secure Boot is on: this Linux system loads only signed kernel modules. The Norvex kernel "
    "driver has been signed and its key queued for enrolment. Now,please reboot and enrol the "
    "key to allow Norvex kernel driver, then load the driver again\n ";
inline constexpr std::string_view kCancelButton = "Cancel";  // the default button
inline constexpr std::string_view kRebootNowButton = "Reboot Now";
inline constexpr std::string_view kUserAbortLine = "User abort start !!!";

// The decision: ask for a restart when the system needs a signed driver and the
// boot-args snapshot does not show the setting in force yet.
bool restartPromptNeeded(bool needSignDriver, std::string_view snapshot,
                         std::string_view settingInEffect = kSigningKeyEnrolledSetting);

enum class RestartAnswer { Cancel, RebootNow };

// Asks the user, with the buttons "Cancel" (the default) and "Reboot Now": the
// window with a modal alert, the command line with a question or a flag.
class RestartQuestion {
public:
    virtual ~RestartQuestion() = default;
    virtual RestartAnswer ask(std::string_view message) = 0;
};

}  // namespace velmora::driver
