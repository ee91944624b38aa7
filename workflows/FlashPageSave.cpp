#include "workflows/FlashPageSave.h"

#include "app/AtomicFile.h"
#include "app/Console.h"
#include "app/TextFormat.h"
#include "editor/EditorConstants.h"
#include "firmware/ImageLayout.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

constexpr std::size_t kHexFieldBytes = 4;
constexpr std::size_t kBytesPerPrintedLine = 8;

int byteLength(const std::string& text) {
    return static_cast<int>(text.size());
}

// An image whose block lies too near its start has no version bytes to store into;
// its field shows empty and is not held to four digits.
bool lengthsAcceptable(const FirmwareBuffer& flashPage, const FlashPageFields& fields) {
    const bool versionOk = !flashPage.version || fields.version.size() == kHexFieldBytes;
    return fields.vid.size() == kHexFieldBytes && fields.sspid.size() == kHexFieldBytes &&
           fields.hspid.size() == kHexFieldBytes && versionOk &&
           fields.manufacturer.size() + fields.product.size() + fields.serial.size() <=
               image::kMaximumStringBytes;
}

void storeFields(FirmwareBuffer& flashPage, const FlashPageFields& fields) {
    FW_SetHexWord(flashPage, flashPage.vid, fields.vid);
    FW_SetHexWord(flashPage, flashPage.sspid, fields.sspid);
    FW_SetHexWord(flashPage, flashPage.hspid, fields.hspid);
    if (flashPage.version) FW_SetHexWord(flashPage, *flashPage.version, fields.version);
    if (FW_StringsDiffer(flashPage, fields.manufacturer, fields.product, fields.serial)) {
        FW_SetStrings(flashPage, fields.manufacturer, fields.product, fields.serial);
    }
}

void printStringArea(const FirmwareBuffer& flashPage, std::ostream& standardOutput) {
    for (std::size_t index = 0; index < flashPage.stringsLength; ++index) {
        standardOutput << formatText("%02x ", flashPage.data.at(flashPage.strings + index));
        if ((index + 1) % kBytesPerPrintedLine == 0) standardOutput << '\n';
    }
    standardOutput << '\n';
    standardOutput.flush();
}

}  // namespace

bool save_FwFlash(FirmwareBuffer& flashPage, const FlashPageFields& fields, WorkflowReporter& reporter,
                  Console& console, std::ostream& standardOutput) {
    console.line(formatText(messages::kFieldLengthsFormat, byteLength(fields.vid), byteLength(fields.sspid),
                            byteLength(fields.hspid), byteLength(fields.version),
                            byteLength(fields.manufacturer), byteLength(fields.product),
                            byteLength(fields.serial)));
    // With no image the field positions point nowhere; nothing may be stored through them.
    if (!flashPage.loaded) {
        reporter.showAlert(std::string(editor::kNoFlashDataAlert));
        return false;
    }
    if (!lengthsAcceptable(flashPage, fields)) {
        reporter.showAlert(messages::kDataLengthError);
        return false;
    }
    storeFields(flashPage, fields);
    printStringArea(flashPage, standardOutput);
    return true;
}

bool saveFinished_FwFlash(const FirmwareBuffer& flashPage, const std::string& path,
                          WorkflowReporter& reporter, Console& console, std::string* failureReason) {
    const auto size = static_cast<std::size_t>(flashPage.size);
    if (size > flashPage.data.size()) {
        reporter.showAlert(std::string(editor::kNoFlashDataAlert));
        return false;
    }
    const FileWriteResult result = writeFileAtomically(path, flashPage.data.data(), size);
    if (!result.written) {
        console.line("save " + path + ": " + result.error);
        if (failureReason != nullptr) *failureReason = result.error;
        reporter.showAlert(messages::kSaveFileFail);
        return false;
    }
    console.line(formatText(messages::kSavedPathFormat, path.c_str()));
    return true;
}

}  // namespace velmora
