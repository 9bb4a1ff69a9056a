#include "platform/PosixLocalTime.h"

#include <time.h>

namespace linkmoot {

PosixLocalTime::PosixLocalTime() {
    tzset();
}

int32_t PosixLocalTime::offsetAt(int64_t unixSeconds) const {
    const time_t instant = static_cast<time_t>(unixSeconds);
    tm local{};
    if (localtime_r(&instant, &local) == nullptr)
        return 0;
    return static_cast<int32_t>(local.tm_gmtoff);
}

}  // namespace linkmoot
