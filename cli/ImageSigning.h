#pragma once
// "image keygen", "image sign" and "image verify": key pairs and signatures in
// minisign's formats, made and checked by the core's signing layer.
#include "cli/CommandContext.h"

namespace velmora::cli {

// "image keygen -o NAME [--no-password]": NAME.pub and NAME.key (0600), the secret
// key sealed under a password asked twice, or open with --no-password.
ExitStatus runImageKeygen(const CommandContext& command);

// "image sign FILE --key NAME.key [--comment TEXT]": FILE.minisig, whose trusted
// comment names the file and the image's firmware version.
ExitStatus runImageSign(const CommandContext& command);

// "image verify FILE": who signed it and whether that key is trusted: 0 when a
// trusted key's signature holds, 1 when the image is unsigned or its signature is
// refused, 2 for bad usage or an image that cannot be read.
ExitStatus runImageVerify(const CommandContext& command);

}  // namespace velmora::cli
