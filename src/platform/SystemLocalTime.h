#pragma once
// The system's time zone (TZ, else /etc/localtime), read by localtime_r.
#include "LocalTime.h"

namespace linkmoot {

class SystemLocalTime : public LocalTime {
public:
    /// Reads TZ again (tzset), for a process whose zone was changed.
    SystemLocalTime();
    int32_t offsetAt(int64_t utcSeconds) const override;
};

}  // namespace linkmoot
