#pragma once
// The system's time zone (TZ, else /etc/localtime), read by localtime_r.
#include "LocalTime.h"

namespace linkmoot {

class PosixLocalTime : public LocalTime {
public:
    /// Reads TZ again (tzset), for a process whose zone was changed.
    PosixLocalTime();
    int32_t offsetAt(int64_t unixSeconds) const override;
};

}  // namespace linkmoot
