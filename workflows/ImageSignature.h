#pragma once
// What the image gate found of an image's signature, as the runs that write it
// carry it into their record and the front ends show it. The gate words every
// line here (the signing layer's texts); the workflows and the front ends only
// pass them on.
#include <string>
#include <vector>

namespace velmora {

struct ImageSignature {
    // "unsigned", "trusted" or "refused"; empty: the image was not judged (a
    // backup written back, a flash page shown).
    std::string state;
    std::string keyId;           // in hex, as minisign shows it; empty: no signature read
    std::string trustedComment;  // as signed
    // The SHA-256 of the bytes that were judged: the signed file. A run that
    // writes other bytes (a unit's serial in its string area) records both.
    std::string judgedSha256;
    // Who signed it, in the lines every front end shows beside the image.
    std::vector<std::string> signerLines;
    // Said once, outside the status lines: an unsigned image where keys are
    // trusted, and trust files passed over.
    std::vector<std::string> notes;
};

}  // namespace velmora
