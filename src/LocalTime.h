#pragma once
// The local time zone as the billing cycle needs it: how far local time is
// from UTC at an instant. One call, answered at once from the system's zone
// data; the calendar arithmetic on top of it is the core's (BillingCycle.h).
#include <cstdint>

namespace linkmoot {

class LocalTime {
public:
    virtual ~LocalTime() = default;
    /// Seconds to add to a UTC instant (Unix seconds) to get local time there,
    /// daylight-saving time included (3600 for Central European winter time).
    virtual int32_t offsetAt(int64_t utcSeconds) const = 0;
};

}  // namespace linkmoot
