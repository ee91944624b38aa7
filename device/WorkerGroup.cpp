#include "device/WorkerGroup.h"

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
        threads_.emplace_back([this, task] {
            const Entered entered(clock_);
            task();
        });
    }
}

void WorkerGroup::join() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (std::thread& thread : threads) {
        if (thread.joinable()) thread.join();
    }
}

WorkerGroup::Membership::Membership(Clock& clock) : clock_(clock) {
    clock_.addWorkers(1);
    clock_.enterWorker();
}

WorkerGroup::Membership::~Membership() {
    clock_.leaveWorker();
}

}  // namespace velmora
