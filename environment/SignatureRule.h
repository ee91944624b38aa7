#pragma once
// The signature rule of the image gate: an image about to be written into a hub
// is judged from the very bytes the admission read (those are the bytes the run
// writes: nothing reads the file again between the judgement and the flash), and
// refused with the reason when its signature does not let it pass.
#include <string>

#include "signing/SignatureVerdict.h"
#include "workflows/ImageChecks.h"

namespace velmora {

// Judges an admitted, loaded image. Refused: admission.refusal is Signature, the
// reason is the verdict's and the image is dropped. Either way the signature's
// state, signer and notes are filled in, worded for every front end.
void applySignatureRule(const std::string& path, const signing::TrustSettings& trust,
                        ImageAdmission& admission);

}  // namespace velmora
