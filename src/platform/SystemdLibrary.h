#pragma once
// libsystemd's bus client (sd-bus), for NetworkManager and logind, opened when
// the bus is first used (see platform/SharedLibrary.h): a server that dials
// through another service and never shuts its computer down never maps it, nor
// the compression and crypto libraries behind it.
//
// The bus code calls sd_bus_* by their own names: SystemdLibrary.cpp defines
// each function the program uses and forwards it to the loaded library. Using
// another one means adding it to the list there and giving it a forwarding
// definition; until then the link fails with an undefined reference. Without
// the library every call fails as a bus without a daemon would (-ELIBACC, null),
// so the callers' own error paths apply.
#include <string>

namespace linkmoot {

/// Loads libsystemd on first use; false with the reason when it cannot be.
bool systemdAvailable(std::string& why);

}  // namespace linkmoot
