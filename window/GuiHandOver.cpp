#include "window/GuiHandOver.h"

#include <QMetaObject>
#include <atomic>

namespace velmora::window {
namespace {

// A process-wide counter, so the handed-over call reaches it without reading
// anything of its caller's first.
std::atomic<unsigned> handOvers{0};

void release() {
    handOvers.fetch_add(1, std::memory_order_release);
}

void acquire() {
    handOvers.load(std::memory_order_acquire);
}

// The call as Qt stores it. Qt moves it into its own slot object, runs it on the
// GUI thread, and frees it on whichever thread lets go of it last (the waiting
// caller, for a blocking call). So the order is stated where each of those
// happens: the move that fills Qt's slot object releases, the run acquires first
// and releases last, and the destruction acquires before anything is freed.
class HandedCall {
public:
    explicit HandedCall(const std::function<void()>& call) : call_(call) {}
    HandedCall(HandedCall&& other) noexcept : call_(std::move(other.call_)) { release(); }
    HandedCall(const HandedCall&) = delete;
    HandedCall& operator=(const HandedCall&) = delete;
    HandedCall& operator=(HandedCall&&) = delete;
    ~HandedCall() { acquire(); }

    void operator()() {
        acquire();
        call_();
        release();
    }

private:
    std::function<void()> call_;
};

}  // namespace

void runOnGuiThread(QObject* target, const std::function<void()>& call, Qt::ConnectionType type) {
    QMetaObject::invokeMethod(target, HandedCall(call), type);
    if (type == Qt::BlockingQueuedConnection) acquire();
}

}  // namespace velmora::window
