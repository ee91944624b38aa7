#include "window/WorkerThreads.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace velmora::window {
namespace {

// An empty call posted to the GUI thread: a join sleeping there wakes and counts
// again.
void wakeGuiThread() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            application, [] {}, Qt::QueuedConnection);
    }
}

}  // namespace

void WorkerThreads::start(std::function<void()> work) {
    joinFinished();
    auto worker = std::make_unique<Worker>();
    Worker* raw = worker.get();
    worker->thread = std::thread([raw, work = std::move(work)] {
        work();
        // Marked first, then the wake-up: a join that counted this worker as
        // running before the mark still gets the wake-up after it.
        raw->finished = true;
        wakeGuiThread();
    });
    workers_.push_back(std::move(worker));
}

int WorkerThreads::running() const {
    int count = 0;
    for (const auto& worker : workers_) count += worker->finished ? 0 : 1;
    return count;
}

void WorkerThreads::joinFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void WorkerThreads::joinAll() {
    if (QCoreApplication::instance() != nullptr) {
        while (running() > 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // Without an application no worker can be waiting for the GUI thread.
    for (const auto& worker : workers_) worker->thread.join();
    workers_.clear();
}

}  // namespace velmora::window
