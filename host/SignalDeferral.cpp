#include "host/SignalDeferral.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/HostMessages.h"

namespace velmora::host {
namespace {

constexpr std::array<int, 4> kOwnedSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// The stop signal that ends a held process at once, counting the first.
constexpr std::uint64_t kStopsThatEndAtOnce = 3;

// Everything the handler and the spans share, in one word, so that a signal and
// the end of the last span can never both miss each other:
//   bits 0-15  spans open         bits 16-23  the held signal (0: none)
//   bit 24     exit asked          bits 25-31  its status
//   bits 32-39 stop signals taken so far (held or counted for the station)
constexpr std::uint64_t kSpanMask = 0xFFFF;
constexpr int kHeldShift = 16;
constexpr std::uint64_t kHeldMask = 0xFFULL << kHeldShift;
constexpr std::uint64_t kExitAsked = 1ULL << 24;
constexpr int kExitStatusShift = 25;
constexpr std::uint64_t kExitStatusMask = 0x7FULL << kExitStatusShift;
constexpr int kStopsShift = 32;
constexpr std::uint64_t kStopsMask = 0xFFULL << kStopsShift;

std::atomic<std::uint64_t> state{0};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
std::atomic<std::atomic<int>*> interruptCounter{nullptr};
std::atomic<bool> ownerExists{false};

// The two lines, made before the handlers are installed and never changed while
// they are.
struct Line {
    std::array<char, 512> text{};
    std::size_t length = 0;
};
Line heldLine;
Line endedLine;
std::array<struct sigaction, kOwnedSignals.size()> earlierActions{};
std::array<bool, kOwnedSignals.size()> installed{};

std::uint64_t spans(std::uint64_t word) {
    return word & kSpanMask;
}
int heldSignal(std::uint64_t word) {
    return static_cast<int>((word & kHeldMask) >> kHeldShift);
}
bool stopHeld(std::uint64_t word) {
    return heldSignal(word) != 0 || (word & kExitAsked) != 0;
}
std::uint64_t stops(std::uint64_t word) {
    return (word & kStopsMask) >> kStopsShift;
}
std::uint64_t withOneMoreStop(std::uint64_t word) {
    const std::uint64_t taken = stops(word);
    if (taken == (kStopsMask >> kStopsShift)) return word;
    return (word & ~kStopsMask) | ((taken + 1) << kStopsShift);
}

void makeLine(Line& line, const std::string& programName, const char* text) {
    const int length =
        std::snprintf(line.text.data(), line.text.size(), "%s: %s\n", programName.c_str(), text);
    line.length = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), line.text.size() - 1);
}

void say(const Line& line) {
    const ssize_t written = ::write(STDERR_FILENO, line.text.data(), line.length);
    (void)written;  // nothing more can be done about a closed stderr
}

// The signal's own default action, now: the process ends as the sender asked.
[[noreturn]] void endWith(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // a default action that does not end the process (none of ours)
}

// In the thread that left the last span, a stop held until then.
[[noreturn]] void endAfterSpan(std::uint64_t word) {
    std::fflush(nullptr);
    if (heldSignal(word) != 0) endWith(heldSignal(word));
    std::_Exit(static_cast<int>((word & kExitStatusMask) >> kExitStatusShift));
}

extern "C" void onSignal(int signal) {
    const int savedErrno = errno;
    if (signal == SIGQUIT) {
        if (spans(state.load()) > 0) say(endedLine);
        endWith(signal);
    }
    std::atomic<int>* counter = signal == SIGINT ? interruptCounter.load() : nullptr;
    std::uint64_t word = state.load();
    std::uint64_t next = 0;
    do {
        if (spans(word) == 0 && counter == nullptr) endWith(signal);
        next = withOneMoreStop(word);
        if (spans(word) > 0 && counter == nullptr && !stopHeld(word))
            next |= static_cast<std::uint64_t>(signal) << kHeldShift;
    } while (!state.compare_exchange_weak(word, next));
    if (spans(next) > 0 && stops(next) >= kStopsThatEndAtOnce) {
        say(endedLine);
        endWith(signal);
    }
    if (counter != nullptr) {
        counter->fetch_add(1);
    } else if (!stopHeld(word)) {
        say(heldLine);
    }
    errno = savedErrno;
}

}  // namespace

SignalDeferral::SignalDeferral(const std::string& programName) {
    if (ownerExists.exchange(true)) {
        std::fputs("velmora: a second owner of the process's signals\n", stderr);
        std::abort();
    }
    state = 0;
    interruptCounter = nullptr;
    makeLine(heldLine, programName, messages::kStopHeldLine);
    makeLine(endedLine, programName, messages::kEndedInSpanLine);
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kOwnedSignals) sigaddset(&action.sa_mask, signal);
    for (std::size_t index = 0; index < kOwnedSignals.size(); ++index) {
        ::sigaction(kOwnedSignals[index], nullptr, &earlierActions[index]);
        // Started with it ignored (nohup, a background job): it stays so.
        installed[index] = earlierActions[index].sa_handler != SIG_IGN;
        if (installed[index]) ::sigaction(kOwnedSignals[index], &action, nullptr);
    }
}

SignalDeferral::~SignalDeferral() {
    for (std::size_t index = 0; index < kOwnedSignals.size(); ++index) {
        if (installed[index]) ::sigaction(kOwnedSignals[index], &earlierActions[index], nullptr);
    }
    interruptCounter = nullptr;
    ownerExists = false;
}

bool SignalDeferral::enterSpan() {
    std::uint64_t word = state.load();
    do {
        if (stopHeld(word) || spans(word) == kSpanMask) return false;
    } while (!state.compare_exchange_weak(word, word + 1));
    return true;
}

void SignalDeferral::leaveSpan() {
    std::uint64_t word = state.load();
    do {
        if (spans(word) == 0) return;  // none open: a leave without its enter changes nothing
    } while (!state.compare_exchange_weak(word, word - 1));
    if (spans(word) == 1 && stopHeld(word)) endAfterSpan(word - 1);
}

bool SignalDeferral::stopping() const {
    return stopHeld(state.load());
}

int SignalDeferral::openSpans() const {
    return static_cast<int>(spans(state.load()));
}

void SignalDeferral::routeInterrupts(std::atomic<int>* counter) {
    interruptCounter = counter;
}

void SignalDeferral::exitAfterSpans(int status) {
    const std::uint64_t statusBits =
        (static_cast<std::uint64_t>(status) << kExitStatusShift) & kExitStatusMask;
    std::uint64_t word = state.load();
    do {
        if (spans(word) == 0) endAfterSpan(kExitAsked | statusBits);
        if (stopHeld(word)) return;
    } while (!state.compare_exchange_weak(word, word | kExitAsked | statusBits));
    say(heldLine);
}

}  // namespace velmora::host
