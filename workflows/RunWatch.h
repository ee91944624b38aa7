#pragma once
// The workflows' side of the run record: a run opens a RunWatch at its start,
// marks its phases and closes it with its outcome. Without an observer in the
// context every call does nothing; with one, the hub sees no request it would
// not see anyway: the watch only listens.
#include <memory>

#include "workflows/RunObserver.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

class RunWatch {
public:
    RunWatch(const WorkflowContext& context, const RunStart& start);
    ~RunWatch();
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;

    void phase(RunPhase phase);
    void backedUp(const std::string& sha256);
    void serialRead(const std::string& serial);
    // failure: the failure line shown, nullptr for a success.
    void finish(const char* failure);

private:
    HubConnection& connection_;
    std::unique_ptr<RunLog> log_;
    bool finished_ = false;
};

}  // namespace velmora
