#pragma once
#include <cstdint>

#include "Clock.h"

namespace linkmoot {

/// The tick count from CLOCK_BOOTTIME (suspend included, so a vote held across
/// a suspend expires) and the process clock from CLOCK_MONOTONIC since start.
class PosixClock : public Clock {
public:
    PosixClock();
    uint32_t tickCount() override;
    uint32_t processMillis() override;
    trust::WallClock wallClock() override;

private:
    uint64_t startMillis;
};

}  // namespace linkmoot
