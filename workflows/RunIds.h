#pragma once
// Names for the runs of one program. The first is made when the program starts,
// so that what it writes before any run (a recording's header) carries the name
// its first run will have; every later run gets a new one as it starts.
#include <mutex>

#include "app/RunId.h"

namespace velmora {

class RunIds {
public:
    RunIds() : first_(RunId::make()) {}
    RunIds(const RunIds&) = delete;
    RunIds& operator=(const RunIds&) = delete;

    const RunId& first() const { return first_; }
    // The first name the first time, then a new one for each run.
    RunId next() {
        std::lock_guard lock(mutex_);
        if (given_) return RunId::make();
        given_ = true;
        return first_;
    }

private:
    std::mutex mutex_;
    const RunId first_;
    bool given_ = false;
};

}  // namespace velmora
