#pragma once
#include <cstdint>

namespace linkmoot {

namespace trust {
struct WallClock;
}

/// Time as the server sees it. Both counts are 32-bit and wrap; every
/// comparison of them is done as an unsigned difference.
class Clock {
public:
    virtual ~Clock() = default;
    /// Milliseconds since the system booted, suspend included, truncated to 32 bits.
    virtual uint32_t tickCount() = 0;
    /// Milliseconds since this process started (wall time, not CPU time).
    virtual uint32_t processMillis() = 0;
    /// The wall clock in Unix milliseconds and whether it is synchronised
    /// (the counters and time window of signed datagrams).
    virtual trust::WallClock wallClock() = 0;
};

}  // namespace linkmoot
