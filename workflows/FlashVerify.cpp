#include "workflows/FlashVerify.h"

#include "device/FlashOperations.h"
#include "workflows/RunWatch.h"
#include "workflows/WorkflowMessages.h"
#include "workflows/WorkflowRun.h"

namespace velmora {
namespace {

const char* readSteps(const WorkflowContext& context, RunWatch& watch, std::vector<std::uint8_t>& flash) {
    WorkflowReporter& reporter = context.reporter;
    watch.phase(RunPhase::Open);
    reporter.appendProgressInfo_Blue(messages::kOpenDevice);
    if (!FL_OpenRomDevice(context.connection)) {
        return openFailure(context.connection, messages::kReadFailToOpenRomDevice);
    }
    watch.phase(RunPhase::Read);
    reporter.appendProgressInfo_Blue(messages::kReadingFlash);
    if (!FL_ReadImage(flash.data(), flash.size(), context.connection)) {
        // Nothing was written: the hub goes back to the firmware it has.
        FL_ResetAndWait(flash::kResetToFlashCode, context.connection);
        return messages::kFailToReadFlash;
    }
    watch.phase(RunPhase::Reset);
    reporter.appendProgressInfo_Blue(messages::kResetToFlashCode);
    if (!FL_ResetAndWait(flash::kResetToFlashCode, context.connection)) {
        return messages::kFailToResetToFlashCode;
    }
    return nullptr;
}

}  // namespace

FlashComparison compareFlash(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& image) {
    FlashComparison comparison;
    comparison.read = true;
    for (std::size_t address = 0; address < image.size(); ++address) {
        if (address < flash.size() && flash[address] == image[address]) continue;
        if (!comparison.first) comparison.first = address;
        ++comparison.differing;
    }
    return comparison;
}

FlashComparison verifyFunc_FwFlash(const WorkflowContext& context, const std::vector<std::uint8_t>& image) {
    WorkflowRun run(context);
    WorkflowReporter& reporter = run.reporter();
    reporter.resetProgressInfo();
    std::vector<std::uint8_t> flash(image.size(), 0);
    const char* failure = readSteps(context, run.record({RunOperation::Verify}), flash);
    FlashComparison comparison;
    if (failure == nullptr) {
        comparison = compareFlash(flash, image);
        if (!comparison.equal()) failure = messages::kFailToVerifyFlash;
    }
    run.end(failure, messages::kVerifyFail, messages::kVerifySuccess);
    return comparison;
}

}  // namespace velmora
