#include "workflows/FlashPage.h"

#include <cstdint>
#include <vector>

#include "detection/DetectionScheduler.h"
#include "device/FlashOperations.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"
#include "workflows/ProgressSpan.h"
#include "workflows/RunWatch.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

const char* eraseSteps(const WorkflowContext& context, RunWatch& watch) {
    WorkflowReporter& reporter = context.reporter;
    watch.phase(RunPhase::Open);
    reporter.appendProgressInfo_Blue(messages::kOpenRomDevice);
    if (!FL_OpenRomDevice(context.connection)) {
        return openFailure(context.connection, messages::kEraseFailToOpenRomDevice);
    }
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
    WorkflowHold hold(context.scheduler);
    PortHold port(context.connection);
    WaitReports waits(context);
    WorkflowReporter& reporter = context.reporter;
    RunWatch watch(context, {"erase"});
    reporter.resetProgressInfo();
    reporter.updateProgressBar(progress::kStart, ProgressDelivery::Wait);
    const char* failure = eraseSteps(context, watch);
    watch.finish(failure);
    if (failure != nullptr) {
        reporter.appendProgressInfo_Red(failure);
        reporter.appendProgressInfo_Red(messages::kEraseFail);
    } else {
        reporter.appendProgressInfo_Blue(messages::kEraseSuccess);
    }
    USB_CloseHub(context.connection);
    reporter.SetButtonStatus(true);
    return failure == nullptr;
}

bool readFunc_FwFlash(const WorkflowContext& context, FirmwareBuffer& flashPage) {
    WorkflowHold hold(context.scheduler);
    PortHold port(context.connection);
    WaitReports waits(context);
    WorkflowReporter& reporter = context.reporter;
    const char* failure = nullptr;
    {
        RunWatch watch(context, {"read"});
        FlashReader reader(context, watch);
        reporter.updateProgressBar(progress::kStart, ProgressDelivery::Wait);
        reporter.resetProgressInfo();
        failure = reader.run();
        watch.finish(failure);
        if (failure != nullptr) {
            reporter.appendProgressInfo_Red(failure);
            reporter.appendProgressInfo_Red(messages::kReadFail);
        } else {
            const std::vector<std::uint8_t>& contents = reader.contents();
            reporter.readFinished_FwFlash([&flashPage, &contents] {
                FW_Parse(flashPage, contents.data(), static_cast<std::int64_t>(contents.size()));
            });
        }
    }
    USB_CloseHub(context.connection);
    reporter.SetButtonStatus(true);
    reporter.updateProgressBar(progress::kStart, ProgressDelivery::NoWait);
    return failure == nullptr;
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
