#include "cli/ImageFile.h"

#include <filesystem>

#include "app/SafeFile.h"
#include "cli/CliText.h"

namespace velmora::cli {

std::string refusalLine(const ImageAdmission& admission) {
    if (admission.refusal != ImageRefusal::UnlistedIds) return admission.reason;
    return admission.reason + text::kAllowNewIdsHint;
}

void noteSignature(const CommandContext& command, const ImageSignature& signature, bool withSigner) {
    if (withSigner)
        for (const std::string& line : signature.signerLines) command.note(line);
    for (const std::string& note : signature.notes) command.note(note);
}

ImageAdmission imageToEdit(const std::string& path, std::string& error) {
    // Shown or edited only: the IDs are not checked, so no table is needed.
    ImageAdmission admission = admitImage(path, SupportedDeviceTable{}, ImageUse::FlashPage);
    error = refusalLine(admission);
    return admission;
}

std::string containingFolder(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool outputPathUsable(const std::string& path, std::string& error) {
    if (path == text::kStandardOutputName) return true;
    std::string reason;
    if (!checkWritableFolder(containingFolder(path), reason) || !checkReplaceableTarget(path, reason)) {
        error = text::cannotWrite(path, reason);
        return false;
    }
    return true;
}

}  // namespace velmora::cli
