#pragma once
// The process's one owner of SIGINT, SIGTERM, SIGHUP and SIGQUIT. A front end
// makes one at its start and keeps it for its life; only one exists at a time.
//
// Outside every hub's flash span the signals act as they always have: the
// process ends with the signal (or, for a station that asked, SIGINT is counted
// and the station decides). Inside a span SIGINT, SIGTERM and SIGHUP are held:
// the first prints kStopHeldLine once, no new span may start, and when the last
// span ends the process ends with that signal, as the sender asked. A third
// stop signal in a span, or SIGQUIT, ends the process at once with
// kEndedInSpanLine. A signal the process was started with ignored (nohup) stays
// ignored.
//
// The handler touches one lock-free atomic word and calls only write, sigaction,
// pthread_sigmask and raise: nothing in it can deadlock on a lock the
// interrupted thread holds. The process ends at the span's end, in the thread
// that leaves it, so no extra thread watches for signals.
#include <atomic>
#include <string>

namespace velmora::host {

class SignalDeferral {
public:
    // programName starts the lines the handler writes to stderr ("velmora-cli: ...").
    explicit SignalDeferral(const std::string& programName);
    ~SignalDeferral();  // the earlier actions back
    SignalDeferral(const SignalDeferral&) = delete;
    SignalDeferral& operator=(const SignalDeferral&) = delete;

    // A hub enters its span. False when a stop is held: nothing new may start.
    bool enterSpan();
    // A hub leaves its span. The last to leave while a stop is held ends the
    // process here (with the held signal, or the status exitAfterSpans asked for).
    void leaveSpan();
    // True once a stop is held (a signal, or exitAfterSpans).
    bool stopping() const;
    int openSpans() const;

    // While set, SIGINT adds one to counter instead of ending the process, inside
    // a span and outside it (the station's two-step interrupt); null: as the others.
    void routeInterrupts(std::atomic<int>* counter);
    // Ends the process with status once no span is open: at once when none is,
    // else when the last one ends (and nothing new starts). Returns only then.
    void exitAfterSpans(int status);
};

}  // namespace velmora::host
