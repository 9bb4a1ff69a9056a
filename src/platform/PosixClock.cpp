#include "platform/PosixClock.h"

#include <time.h>

#include "platform/SystemWallClock.h"

namespace linkmoot {

namespace {
uint64_t millis(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}
}  // namespace

PosixClock::PosixClock() : startMillis(millis(CLOCK_MONOTONIC)) {}

uint32_t PosixClock::tickCount() {
    return static_cast<uint32_t>(millis(CLOCK_BOOTTIME));
}

uint32_t PosixClock::processMillis() {
    return static_cast<uint32_t>(millis(CLOCK_MONOTONIC) - startMillis);
}

trust::WallClock PosixClock::wallClock() {
    return readSystemWallClock();
}

}  // namespace linkmoot
