#pragma once
// The core's cryptography (Crypto.h) from libsodium, opened when a shared
// secret or the web page first needs it (see platform/SharedLibrary.h).
#include "Crypto.h"

namespace linkmoot {

/// The one implementation of the process: the library is loaded once for all.
Crypto& sodiumCrypto();

}  // namespace linkmoot
