#include "platform/SystemWallClock.h"

#include <sys/timex.h>
#include <time.h>

namespace linkmoot {

trust::WallClock readSystemWallClock() {
    trust::WallClock wall;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    wall.unixMs =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    // A read-only query (no modes set) needs no privilege. TIME_ERROR, or the
    // unsynchronised status bit, means no time source keeps the clock right.
    timex query{};
    const int state = adjtimex(&query);
    wall.synchronised = state != -1 && state != TIME_ERROR && (query.status & STA_UNSYNC) == 0;
    return wall;
}

}  // namespace linkmoot
