#include "environment/SignatureRule.h"

#include "app/Sha256.h"
#include "signing/SigningMessages.h"

namespace velmora {

void applySignatureRule(const std::string& path, const signing::TrustSettings& trust,
                        ImageAdmission& admission) {
    const std::vector<std::uint8_t>& bytes = admission.image.data;
    const signing::SignatureVerdict verdict =
        signing::judgeImageSignature(path, bytes.data(), bytes.size(), trust);
    ImageSignature& signature = admission.signature;
    signature.state = signing::messages::stateName(verdict.state);
    signature.keyId = verdict.keyId;
    signature.trustedComment = verdict.trustedComment;
    signature.judgedSha256 = sha256Hex(bytes.data(), bytes.size());
    signature.notes = verdict.notes;
    switch (verdict.state) {
        case signing::SignatureState::Trusted:
            signature.signerLines = {signing::messages::signedBy(verdict.keyId, verdict.form),
                                     signing::messages::trustedCommentLine(verdict.trustedComment, true)};
            break;
        case signing::SignatureState::Unsigned:
            // Where no key is trusted, signatures are not in use and nothing is said.
            if (verdict.trustedKeyCount > 0)
                signature.notes.push_back(signing::messages::imageUnsigned(path, verdict.signatureFile));
            break;
        case signing::SignatureState::Refused:
            admission.refusal = ImageRefusal::Signature;
            admission.reason = verdict.reason;
            admission.image = FirmwareBuffer{};
            break;
    }
}

}  // namespace velmora
