#include "platform/PosixLocalTime.h"

#include <time.h>

#include <cstdio>

namespace linkmoot {

PosixLocalTime::PosixLocalTime() {
    tzset();
}

CivilDate PosixLocalTime::dateAt(int64_t unixSeconds) {
    const time_t at = static_cast<time_t>(unixSeconds);
    tm local{};
    localtime_r(&at, &local);
    return CivilDate{local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                     static_cast<unsigned>(local.tm_mday)};
}

int64_t PosixLocalTime::startOf(const CivilDate& date) {
    // A midnight that a change of daylight-saving time skipped comes back as
    // the first hour that exists, on the same date.
    tm local{};
    local.tm_year = date.year - 1900;
    local.tm_mon = static_cast<int>(date.month) - 1;
    local.tm_mday = static_cast<int>(date.day);
    local.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&local));
}

std::string PosixLocalTime::minuteText(int64_t unixSeconds) {
    const time_t at = static_cast<time_t>(unixSeconds);
    tm local{};
    localtime_r(&at, &local);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

}  // namespace linkmoot
