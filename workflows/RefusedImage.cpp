#include "workflows/RefusedImage.h"

#include "workflows/WorkflowMessages.h"

namespace velmora {

std::string refusedImageAlert(const ImageAdmission& admission) {
    std::string text = admission.reason;
    if (admission.refusal == ImageRefusal::UnlistedIds) text += messages::kAddIdsToConfig;
    return text;
}

void reportRefusedImage(WorkflowReporter& reporter, const ImageAdmission& admission, RefusalAlert alert) {
    if (alert == RefusalAlert::Show) reporter.showAlert(refusedImageAlert(admission));
    reporter.resetProgressInfo();
    reporter.updateProgressBar(progress::kStart, ProgressDelivery::Wait);
    reporter.appendProgressInfo_Red(admission.reason + "\n");
    reporter.appendProgressInfo_Red(messages::kWrongFirmwareFile);
    reporter.appendProgressInfo_Red(messages::kUpdateFail);
}

}  // namespace velmora
