#include "workflows/FlashPage.h"

#include <cstdint>
#include <vector>

#include "device/FlashOperations.h"
#include "device/VendorCommands.h"
#include "workflows/ProgressSpan.h"
#include "workflows/RunWatch.h"
#include "workflows/WorkflowMessages.h"
#include "workflows/WorkflowRun.h"

namespace velmora {
namespace {

const char* eraseSteps(WorkflowRun& run, RunWatch& watch) {
    const WorkflowContext& context = run.context();
    WorkflowReporter& reporter = context.reporter;
    watch.phase(RunPhase::Open);
    reporter.appendProgressInfo_Blue(messages::kOpenRomDevice);
    if (!FL_OpenRomDevice(context.connection)) {
        return openFailure(context.connection, messages::kEraseFailToOpenRomDevice);
    }
    if (const char* failure = run.backUpFlash(messages::kEraseFailToBackUpFlash)) return failure;
    if (const char* failure = run.enterFlashSpan(messages::kEraseStoppingNotErased)) return failure;
    watch.phase(RunPhase::Erase);
    reporter.appendProgressInfo_Blue(messages::kEraseFlash);
    if (!FL_EraseFlash(context.connection)) return messages::kEraseFailToEraseFlash;
    watch.phase(RunPhase::Reset);
    reporter.appendProgressInfo_Blue(messages::kReseting);
    if (!FL_ResetAndWait(flash::kResetToFlashCode, context.connection)) {
        return messages::kEraseFailToReset;
    }
    return nullptr;
}

class FlashReader {
public:
    FlashReader(const WorkflowContext& context, RunWatch& watch)
        : context_(context),
          reporter_(context.reporter),
          watch_(watch),
          contents_(flash::kFlashPageBytes, 0) {}

    // nullptr when the whole flash was read and the hub is back in its flash code.
    const char* run() {
        watch_.phase(RunPhase::Open);
        reporter_.appendProgressInfo_Blue(messages::kOpenDevice);
        if (!FL_OpenRomDevice(context_.connection)) {
            return openFailure(context_.connection, messages::kReadFailToOpenRomDevice);
        }
        post(progress::kAfterOpen);
        watch_.phase(RunPhase::Read);
        reporter_.appendProgressInfo_Blue(messages::kReadingFlash);
        if (!readChunks()) return messages::kFailToReadFlash;
        watch_.phase(RunPhase::Reset);
        reporter_.appendProgressInfo_Blue(messages::kResetToFlashCode);
        if (!FL_ResetAndWait(flash::kResetToFlashCode, context_.connection)) {
            return messages::kFailToResetToFlashCode;
        }
        post(progress_ + progress::kAfterReadReset);
        reporter_.appendProgressInfo_Blue(messages::kReadSuccess);
        return nullptr;
    }

    const std::vector<std::uint8_t>& contents() const { return contents_; }

private:
    bool readChunks() {
        return FL_ReadImage(
            contents_.data(), contents_.size(), context_.connection,
            [this](std::size_t done, std::size_t total) {
                post(spanProgress(progress::kAfterOpen, progress::kFlashReadSpan, done, total));
            });
    }

    void post(double value) {
        progress_ = value;
        reporter_.updateProgressBar(value, ProgressDelivery::NoWait);
    }

    const WorkflowContext& context_;
    WorkflowReporter& reporter_;
    RunWatch& watch_;
    std::vector<std::uint8_t> contents_;
    double progress_ = progress::kStart;
};

}  // namespace

bool eraseFunc_FwFlash(const WorkflowContext& context) {
    WorkflowRun run(context);
    WorkflowReporter& reporter = run.reporter();
    RunWatch& watch = run.record({RunOperation::Erase});
    reporter.resetProgressInfo();
    reporter.updateProgressBar(progress::kStart, ProgressDelivery::Wait);
    const char* failure = eraseSteps(run, watch);
    return run.end(failure, messages::kEraseFail, messages::kEraseSuccess);
}

bool readFunc_FwFlash(const WorkflowContext& context, FirmwareBuffer& flashPage) {
    WorkflowRun run(context);
    WorkflowReporter& reporter = run.reporter();
    FlashReader reader(context, run.record({RunOperation::Read}));
    reporter.updateProgressBar(progress::kStart, ProgressDelivery::Wait);
    reporter.resetProgressInfo();
    const char* failure = reader.run();
    run.conclude(failure);
    if (failure == nullptr) {
        // The success line was the reader's own; the page takes the contents.
        const std::vector<std::uint8_t>& contents = reader.contents();
        reporter.readFinished_FwFlash([&flashPage, &contents] {
            FW_Parse(flashPage, contents.data(), static_cast<std::int64_t>(contents.size()));
        });
    }
    const bool succeeded = run.end(failure, messages::kReadFail, nullptr);
    reporter.updateProgressBar(progress::kStart, ProgressDelivery::NoWait);
    return succeeded;
}

FlashPageLoad load_FwFlash(FirmwareBuffer& flashPage, const std::string& path, WorkflowReporter& reporter) {
    if (FW_LoadFile(flashPage, path)) return FlashPageLoad::Loaded;
    if (flashPage.loaded) {
        // Replacing the image with nothing would throw away the edits made to it.
        reporter.showAlert(messages::kCannotReadFile);
        return FlashPageLoad::KeptEarlier;
    }
    reporter.showAlert(messages::kFirmwareFormatError);
    return FlashPageLoad::NoImage;
}

}  // namespace velmora
