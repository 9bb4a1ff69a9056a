#pragma once
// The local calendar (the system's time zone, TZ included), for the views'
// days and months. Rules: both calls answer at once; startOf() of a date whose
// midnight was skipped (a change of daylight-saving time at midnight) is the
// first second that exists on that date.
#include <cstdint>
#include <string>
#include <string_view>

namespace linkmoot {

struct CivilDate {
    int year = 1970;
    unsigned month = 1;  ///< 1 to 12
    unsigned day = 1;    ///< 1 to 31
    bool operator==(const CivilDate&) const = default;
    auto operator<=>(const CivilDate&) const = default;
};

/// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(const CivilDate& date);
CivilDate civilFromDays(int64_t days);
/// "2026-12-07".
std::string isoDate(const CivilDate& date);
/// Reads "YYYY-MM-DD" (a real date); false when it is not one.
bool parseIsoDate(std::string_view text, CivilDate& date);
/// "2026-12-07T14:03:00Z" for Unix milliseconds.
std::string isoUtc(int64_t unixMs);

class LocalTime {
public:
    virtual ~LocalTime() = default;
    /// The local date at a Unix time.
    virtual CivilDate dateAt(int64_t unixSeconds) = 0;
    /// The Unix time of the date's first local second.
    virtual int64_t startOf(const CivilDate& date) = 0;
    /// "2026-12-07 14:03" in local time, for the text views.
    virtual std::string minuteText(int64_t unixSeconds) = 0;
};

}  // namespace linkmoot
