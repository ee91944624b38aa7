#include "cli/PasswordPrompt.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace velmora::cli {
namespace {

// Echo off on the terminal while the password is typed, and back as it was after.
class NoEcho {
public:
    NoEcho() {
        if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;  // the Enter still ends the line on screen
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~NoEcho() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

}  // namespace

std::optional<std::string> askPassword(const std::string& prompt, std::ostream& err) {
    err << prompt;
    err.flush();
    const NoEcho quiet;
    // Byte by byte from the descriptor: nothing after the line is taken from the
    // input, so a second question reads the second line.
    std::string line;
    char character = 0;
    ssize_t count = 0;
    while ((count = ::read(STDIN_FILENO, &character, 1)) != 0) {
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (character == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > kLongestPassword) return std::nullopt;
            return line;
        }
        if (line.size() <= kLongestPassword) line += character;
    }
    err << '\n';  // the question's line ends even when no answer came
    return std::nullopt;
}

}  // namespace velmora::cli
