#include "window/WorkerThreads.h"

#include <QCoreApplication>

#include "window/GuiHandOver.h"

namespace velmora::window {
namespace {

// An empty call posted to the GUI thread: a join sleeping there wakes and counts
// again. Handed over like every other call, so the slot object Qt allocates here
// and frees on the GUI thread is ordered where ThreadSanitizer can see it.
void wakeGuiThread() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        runOnGuiThread(
            application, [] {}, Qt::QueuedConnection);
    }
}

}  // namespace

void WorkerThreads::start(std::function<void()> work) {
    group_.joinEnded();
    ++running_;
    group_.start([this, work = std::move(work)] {
        work();
        // Counted off first, then the wake-up: a join that counted this worker as
        // running before still gets the wake-up after it.
        --running_;
        wakeGuiThread();
    });
}

void WorkerThreads::joinAll() {
    if (QCoreApplication::instance() != nullptr) {
        while (running_ > 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // Without an application no worker can be waiting for the GUI thread; the
    // threads that are past their work end without it.
    group_.join();
}

}  // namespace velmora::window
