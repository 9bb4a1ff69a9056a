#pragma once
// The local calendar of the system's time zone (TZ, else /etc/localtime),
// through localtime_r and mktime, which are safe on any thread.
#include "LocalTime.h"

namespace linkmoot {

class PosixLocalTime : public LocalTime {
public:
    PosixLocalTime();
    CivilDate dateAt(int64_t unixSeconds) override;
    int64_t startOf(const CivilDate& date) override;
    std::string minuteText(int64_t unixSeconds) override;
};

}  // namespace linkmoot
