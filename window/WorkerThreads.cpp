#include "window/WorkerThreads.h"

#include <QCoreApplication>
#include <QThread>

namespace velmora::window {

void WorkerThreads::start(std::function<void()> work) {
    joinFinished();
    auto worker = std::make_unique<Worker>();
    Worker* raw = worker.get();
    worker->thread = std::thread([raw, work = std::move(work)] {
        work();
        raw->finished = true;
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
    while (running() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    joinFinished();
}

}  // namespace velmora::window
