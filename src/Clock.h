#pragma once
#include <cstdint>

namespace linkmoot {

/// Time as the server sees it. Both counts are 32-bit and wrap; every
/// comparison of them is done as an unsigned difference.
class Clock {
public:
    virtual ~Clock() = default;
    /// Milliseconds since the system booted, suspend included, truncated to 32 bits.
    virtual uint32_t tickCount() = 0;
    /// Milliseconds since this process started (wall time, not CPU time).
    virtual uint32_t processMillis() = 0;
};

}  // namespace linkmoot
