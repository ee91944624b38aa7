// The process's stop signals around a flash span, in child processes that own
// their signals as a front end does: inside the span a third SIGINT, SIGTERM or
// SIGHUP ends the process at once with the recover line, as SIGQUIT does; the
// station's interrupts are counted and its abandon waits for the span. (The held
// signal that ends velmora-cli right after the span, in every phase of an update,
// is in tests/usbfs.) Each signal is sent only once the one before it was taken,
// so none merges with another.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "host/HostMessages.h"
#include "host/SignalDeferral.h"
#include "tests/support/ChildProcess.h"

namespace velmora::host {
namespace {

constexpr const char* kLeft = "left the span";
constexpr auto kPatience = std::chrono::seconds(20);  // only so a regression cannot hang

struct ChildPlan {
    bool enterSpan = true;
    bool countInterrupts = false;  // the station's way with SIGINT
    bool abandon = false;          // the station's second interrupt: exitAfterSpans(1)
};

// A child that owns its signals, enters its span (or not), says it is ready and
// waits for the word to leave it; then says it left, with the interrupts counted.
class SpanChild {
public:
    explicit SpanChild(ChildPlan plan) {
        int errors[2], ready[2], word[2];
        if (::pipe(errors) != 0 || ::pipe(ready) != 0 || ::pipe(word) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::alarm(testing::kChildGuardSeconds);
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            ::dup2(errors[1], STDERR_FILENO);
            ::_exit(run(plan, ready[1], word[0]));
        }
        ::close(errors[1]);
        ::close(ready[1]);
        ::close(word[0]);
        errors_ = errors[0];
        word_ = word[1];
        char byte = 0;
        ready_ = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~SpanChild() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(errors_);
        ::close(word_);
    }

    bool ready() const { return ready_; }
    // Sends the signal and waits until the child has taken it (or ended).
    void send(int signal) {
        ::kill(pid_, signal);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (pending(signal) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    void leaveSpan() { (void)!::write(word_, "L", 1); }
    // How the child ended, once it has; nothing when it still runs after a while.
    std::optional<int> ending() {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ended_ = true;
        return status;
    }
    std::string errors() {
        std::string text;
        char buffer[1024];
        for (ssize_t got; (got = ::read(errors_, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(got));
        return text;
    }

private:
    static int run(const ChildPlan& plan, int ready, int word) {
        testing::useDefaultStopSignals();
        SignalDeferral signals("velmora-test");
        std::atomic<int> interrupts{0};
        if (plan.countInterrupts) signals.routeInterrupts(&interrupts);
        if (plan.enterSpan) signals.enterSpan();
        if (plan.abandon) signals.exitAfterSpans(1);
        (void)!::write(ready, "R", 1);
        char byte = 0;
        (void)!::read(word, &byte, 1);  // restarted after each signal the handler takes
        if (plan.enterSpan) signals.leaveSpan();
        std::fprintf(stderr, "%s, interrupts %d\n", kLeft, interrupts.load());
        return 0;
    }

    // Whether the signal still waits for the child (not yet taken); false once it ended.
    bool pending(int signal) const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        const unsigned long long bit = 1ULL << (signal - 1);
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("State:", 0) == 0 && line.find('Z') != std::string::npos) return false;
            if (line.rfind("ShdPnd:", 0) == 0 || line.rfind("SigPnd:", 0) == 0) {
                if (std::stoull(line.substr(line.find(':') + 1), nullptr, 16) & bit) return true;
            }
        }
        return false;
    }

    pid_t pid_ = -1;
    int errors_ = -1;
    int word_ = -1;
    bool ready_ = false;
    bool ended_ = false;
};

std::size_t count(const std::string& text, const std::string& words) {
    std::size_t found = 0;
    for (std::size_t at = text.find(words); at != std::string::npos; at = text.find(words, at + 1)) ++found;
    return found;
}

bool endedBy(const std::optional<int>& status, int signal) {
    return status && WIFSIGNALED(*status) && WTERMSIG(*status) == signal;
}

struct EndingStop {
    const char* name;
    int signal;
    int sent;  // the one that ends the process at once
};

void PrintTo(const EndingStop& stop, std::ostream* out) {
    *out << stop.name;
}

class EndingStopTest : public ::testing::TestWithParam<EndingStop> {};

TEST_P(EndingStopTest, EndsTheSpanAtOnceWithTheRecoverLine) {
    const EndingStop& stop = GetParam();
    SpanChild child({});
    ASSERT_TRUE(child.ready());
    for (int sent = 0; sent < stop.sent; ++sent) child.send(stop.signal);
    EXPECT_TRUE(endedBy(child.ending(), stop.signal)) << "still running, never told to leave its span";
    const std::string errors = child.errors();
    EXPECT_EQ(count(errors, messages::kStopHeldLine), stop.sent > 1 ? 1u : 0u) << errors;
    EXPECT_EQ(count(errors, "`velmora-cli recover`"), 1u) << errors;
}

INSTANTIATE_TEST_SUITE_P(Stops, EndingStopTest,
                         ::testing::Values(EndingStop{"ThirdInterrupt", SIGINT, 3},
                                           EndingStop{"ThirdTerminate", SIGTERM, 3},
                                           EndingStop{"ThirdHangUp", SIGHUP, 3},
                                           EndingStop{"Quit", SIGQUIT, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// The station: its first interrupt is counted whatever the spans; its abandon
// waits for the hub inside its span and then ends with the station's status.
TEST(SignalDeferralTest, TheStationsInterruptsAreCountedAndItsAbandonWaitsForTheSpan) {
    {
        SpanChild child({.enterSpan = false, .countInterrupts = true});
        ASSERT_TRUE(child.ready());
        child.send(SIGINT);
        child.send(SIGINT);
        child.leaveSpan();
        const std::optional<int> status = child.ending();
        ASSERT_TRUE(status && WIFEXITED(*status)) << child.errors();
        EXPECT_EQ(child.errors(), std::string(kLeft) + ", interrupts 2\n");
    }
    SpanChild child({.countInterrupts = true, .abandon = true});
    ASSERT_TRUE(child.ready());
    child.leaveSpan();
    const std::optional<int> status = child.ending();
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    const std::string errors = child.errors();
    EXPECT_EQ(count(errors, messages::kStopHeldLine), 1u) << errors;
    EXPECT_EQ(count(errors, kLeft), 0u) << errors;
}

// A process started with a signal ignored (nohup) keeps it ignored.
TEST(SignalDeferralTest, ASignalIgnoredAtTheStartStaysIgnored) {
    const testing::ChildEnd end = testing::runInChild([] {
        testing::useDefaultStopSignals();
        ::signal(SIGHUP, SIG_IGN);
        SignalDeferral signals("velmora-test");
        ::raise(SIGHUP);
        return 7;
    });
    EXPECT_EQ(end.exitStatus, 7);
}

}  // namespace
}  // namespace velmora::host
