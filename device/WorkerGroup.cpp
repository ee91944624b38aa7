#include "device/WorkerGroup.h"

#include <iterator>
#include <utility>

namespace velmora {
namespace {

// A started thread's own membership: counted already, it only enters and leaves.
class Entered {
public:
    explicit Entered(Clock& clock) : clock_(clock) { clock_.enterWorker(); }
    ~Entered() { clock_.leaveWorker(); }
    Entered(const Entered&) = delete;
    Entered& operator=(const Entered&) = delete;

private:
    Clock& clock_;
};

}  // namespace

void WorkerGroup::start(const std::vector<std::function<void()>>& tasks) {
    std::lock_guard lock(mutex_);
    clock_.addWorkers(static_cast<int>(tasks.size()));
    for (const std::function<void()>& task : tasks) {
        auto worker = std::make_unique<Worker>();
        Worker* started = worker.get();
        started->thread = std::thread([this, started, task] {
            {
                const Entered entered(clock_);
                task();
            }
            started->ended = true;
        });
        workers_.push_back(std::move(worker));
    }
}

void WorkerGroup::join() {
    std::list<std::unique_ptr<Worker>> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (const auto& worker : workers) {
        if (worker->thread.joinable()) worker->thread.join();
    }
}

void WorkerGroup::joinEnded() {
    std::list<std::unique_ptr<Worker>> ended;
    {
        std::lock_guard lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            const auto next = std::next(it);
            if ((*it)->ended) ended.splice(ended.end(), workers_, it);
            it = next;
        }
    }
    for (const auto& worker : ended) worker->thread.join();
}

WorkerGroup::Membership::Membership(Clock& clock) : clock_(clock) {
    clock_.addWorkers(1);
    clock_.enterWorker();
}

WorkerGroup::Membership::~Membership() {
    clock_.leaveWorker();
}

}  // namespace velmora
