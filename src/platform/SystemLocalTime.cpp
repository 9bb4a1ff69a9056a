#include "platform/SystemLocalTime.h"

#include <time.h>

namespace linkmoot {

SystemLocalTime::SystemLocalTime() {
    tzset();
}

int32_t SystemLocalTime::offsetAt(int64_t utcSeconds) const {
    const time_t instant = static_cast<time_t>(utcSeconds);
    tm local{};
    if (localtime_r(&instant, &local) == nullptr)
        return 0;
    return static_cast<int32_t>(local.tm_gmtoff);
}

}  // namespace linkmoot
