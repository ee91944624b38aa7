#include "workflows/EasyUpdate.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "device/FlashOperations.h"
#include "device/SerialString.h"
#include "device/VendorCommands.h"
#include "editor/DescriptorFields.h"
#include "workflows/ImageChecks.h"
#include "workflows/ProgressSpan.h"
#include "workflows/RunWatch.h"
#include "workflows/WorkflowMessages.h"
#include "workflows/WorkflowRun.h"

namespace velmora {
namespace {

std::string hexPair(const FirmwareBuffer& image, std::size_t position) {
    return formatText("%02X%02X", image.data.at(position), image.data.at(position + 1));
}

class ImageWriter {
public:
    ImageWriter(WorkflowRun& run, const FirmwareBuffer& image, RunWatch& watch)
        : run_(run),
          context_(run.context()),
          reporter_(context_.reporter),
          imageBuffer_(image),
          image_(image.data),
          watch_(watch) {}

    // nullptr when the hub runs the new image, else the failure to show.
    const char* run() {
        watch_.phase(RunPhase::Open);
        if (!FL_OpenRomDevice(context_.connection)) {
            return openFailure(context_.connection, messages::kFailToOpenRomDevice);
        }
        if (const char* failure = run_.backUpFlash(messages::kFailToBackUpFlash)) return failure;
        if (const char* failure = run_.enterFlashSpan(messages::kStoppingNotErased)) return failure;
        watch_.phase(RunPhase::Erase);
        reporter_.appendProgressInfo_Blue(messages::kEraseFlash);
        if (!FL_EraseFlash(context_.connection)) return messages::kFailToEraseFlash;
        reporter_.updateProgressBar(progress::kAfterErase, ProgressDelivery::Wait);
        watch_.phase(RunPhase::Write);
        reporter_.appendProgressInfo_Blue(messages::kWriteFlash);
        if (!program()) return messages::kFailToWriteFlash;
        watch_.phase(RunPhase::Read);
        reporter_.appendProgressInfo_Blue(messages::kReadFlash);
        if (!readBack()) return messages::kFailToReadFlash;
        watch_.phase(RunPhase::Verify);
        reporter_.appendProgressInfo_Blue(messages::kVerifyFlash);
        if (readBack_ != image_) return messages::kFailToVerifyFlash;
        reporter_.updateProgressBar(lastProgress_ + progress::kAfterVerify, ProgressDelivery::Wait);
        watch_.phase(RunPhase::Reset);
        reporter_.appendProgressInfo_Blue(messages::kResetToFlashCode);
        if (!FL_ResetAndWait(flash::kResetToFlashCode, context_.connection)) {
            return messages::kFailToResetToFlashCode;
        }
        return checkSerialNumber();
    }

private:
    // What the hub now tells every host it is: read once the new code runs, kept
    // in the record, and compared when the image sets the serial (a production
    // unit's own number): a hub that shows another one has not taken the image.
    const char* checkSerialNumber() {
        const std::optional<std::string> reported = USB_ReadSerialNumber(context_.connection);
        watch_.serialRead(reported.value_or(std::string{}));
        if (!FW_SerialEdited(imageBuffer_) || reported == imageBuffer_.serial) return nullptr;
        consoleLine(context_,
                    formatText(messages::kSerialMismatchFormat, printableText(reported.value_or("")).c_str(),
                               printableText(imageBuffer_.serial).c_str()));
        return messages::kFailToVerifySerialNumber;
    }

    bool program() {
        return FL_WriteImage(
            image_.data(), image_.size(), context_.connection, [this](std::size_t done, std::size_t total) {
                post(spanProgress(progress::kAfterErase, progress::kProgramSpan, done, total));
            });
    }

    bool readBack() {
        readBack_.assign(image_.size(), 0);
        const double start = progress::kAfterErase + progress::kProgramSpan;
        return FL_ReadImage(readBack_.data(), readBack_.size(), context_.connection,
                            [this, start](std::size_t done, std::size_t total) {
                                post(spanProgress(start, progress::kReadBackSpan, done, total));
                            });
    }

    void post(double value) {
        lastProgress_ = value;
        reporter_.updateProgressBar(value, ProgressDelivery::NoWait);
    }

    WorkflowRun& run_;
    const WorkflowContext& context_;
    WorkflowReporter& reporter_;
    const FirmwareBuffer& imageBuffer_;
    const std::vector<std::uint8_t>& image_;
    RunWatch& watch_;
    std::vector<std::uint8_t> readBack_;
    double lastProgress_ = progress::kAfterErase;
};

// Bytes with a configuration block boot the hub's flash code, with the version
// the block carries when it has room for one; bytes without one (a blank backup
// written back by name) leave it in its ROM code.
ExpectedCode expectedCodeOf(const FirmwareBuffer& image) {
    if (!image.hasBlock()) return {false, std::nullopt};
    if (!image.version) return {true, std::nullopt};
    return {true, static_cast<std::uint16_t>(image.data.at(*image.version) << 8 |
                                             image.data.at(*image.version + 1))};
}

}  // namespace

ImageIdentity identityOf(const FirmwareBuffer& image) {
    ImageIdentity identity;
    identity.vid = hexPair(image, image.vid);
    identity.sspid = hexPair(image, image.sspid);
    identity.hspid = hexPair(image, image.hspid);
    if (image.version) identity.version = hexPair(image, *image.version);
    identity.manufacturer = image.manufacturer;
    identity.product = image.product;
    identity.serial = image.serial;
    return identity;
}

bool chooseFw_EasyUpdate(FirmwareBuffer& buffer, const std::string& path, WorkflowReporter& reporter) {
    const bool parsed = FW_LoadFile(buffer, path);
    if (!parsed && buffer.loaded) {
        buffer = FirmwareBuffer{};  // unreadable: the earlier image stays on disk, not here
    }
    if (!buffer.loaded) {
        reporter.showAlert(messages::kFirmwareFormatError);
        return false;
    }
    return true;
}

bool updateFunc(const WorkflowContext& context, const FirmwareBuffer& image, const std::string& imageName) {
    return updateFuncAs(context, image, imageName, RunOperation::Update, imageName).succeeded;
}

RunOutcome updateFuncAs(const WorkflowContext& context, const FirmwareBuffer& image,
                        const std::string& imageName, RunOperation operation, const std::string& imagePath,
                        const RunId& recoveredRun) {
    WorkflowRun run(context);
    WorkflowReporter& reporter = run.reporter();
    reporter.resetProgressInfo();
    reporter.updateProgressBar(progress::kStart, ProgressDelivery::Wait);
    reporter.appendProgressInfo_Blue(formatText(messages::kImageLineFormat, imageName.c_str(), image.size));

    const char* failure = messages::kWrongFirmwareFile;
    if (image.loaded && !fitsTheFlash(image.size)) {
        // Refused before the erase: the hub keeps the image it runs.
        consoleLine(context, largerThanFlash(imageName, image.size));
    } else if (image.loaded) {
        // Only a run that reaches the hub is recorded: a launch with no image
        // configured is not a hub operation.
        RunWatch& watch = run.record(
            {operation, imagePath, &image.data, image.serial, context.imageSignature, recoveredRun});
        run.expectAtTheEnd(expectedCodeOf(image));
        failure = ImageWriter(run, image, watch).run();
    }
    run.end(failure, messages::kUpdateFail, messages::kUpdateSuccess);
    return run.outcome();
}

}  // namespace velmora
