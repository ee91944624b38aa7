#include "cli/PasswordPrompt.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace velmora::cli {
namespace {

// The terminal's settings while echo is off, for a signal that ends the program
// before the password is in: the terminal is one per process, so is its copy.
termios savedTerminal{};
constexpr std::array<int, 4> kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void restoreTerminalAndEnd(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Echo off on the terminal while the password is typed, and back as it was after,
// also when Ctrl-C ends the program meanwhile.
class NoEcho {
public:
    NoEcho() {
        if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
        struct sigaction restore {};
        restore.sa_handler = restoreTerminalAndEnd;
        for (std::size_t index = 0; index < kEndingSignals.size(); ++index)
            ::sigaction(kEndingSignals[index], &restore, &previous_[index]);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;  // the Enter still ends the line on screen
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        active_ = true;
    }
    ~NoEcho() {
        if (!active_) return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        for (std::size_t index = 0; index < kEndingSignals.size(); ++index)
            ::sigaction(kEndingSignals[index], &previous_[index], nullptr);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    std::array<struct sigaction, kEndingSignals.size()> previous_{};
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
        if (count < 0) break;
        if (character == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > kLongestPassword) break;
            return line;
        }
        if (line.size() <= kLongestPassword) line += character;
    }
    err << '\n';  // the question's line ends even when no answer came
    return std::nullopt;
}

}  // namespace velmora::cli
