#pragma once
#include "Trust.h"

namespace linkmoot {

/// The wall clock in Unix milliseconds, and whether the kernel counts it as
/// synchronised to a time source (adjtimex). The server's time window for
/// signed datagrams applies only while it is.
trust::WallClock readSystemWallClock();

}  // namespace linkmoot
