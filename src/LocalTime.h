#pragma once
// The local calendar: dates and readings of the clock in the system's time
// zone (TZ included), for the views' days and months and the data plan's
// billing cycles. The zone answers one question, how far local time is from
// UTC at an instant; everything else is calendar arithmetic here, so the
// rules hold the same in every zone and for every fake in the tests:
// - a reading the clocks skipped (a change of daylight-saving time) stands
//   for the instant they jumped, the first that exists after it;
// - a reading that happens twice (the clocks went back) stands for the first.
#include <cstdint>
#include <string>
#include <string_view>

namespace linkmoot {

/// A date of the proleptic Gregorian calendar.
struct CivilDate {
    int year = 1970;
    unsigned month = 1;  ///< 1 to 12
    unsigned day = 1;    ///< 1 to 31
    bool operator==(const CivilDate&) const = default;
    auto operator<=>(const CivilDate&) const = default;
};

/// A local reading of the clock.
struct LocalDateTime {
    CivilDate date;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    bool operator==(const LocalDateTime&) const = default;
};

/// Days since 1970-01-01 of a proleptic Gregorian date (negative before), and back.
int64_t daysFromCivil(const CivilDate& date);
CivilDate civilFromDays(int64_t days);
unsigned daysInMonth(int year, unsigned month);
/// "2026-12-07".
std::string isoDate(const CivilDate& date);
/// Reads "YYYY-MM-DD" (a real date, from 1970 on); false when it is not one.
bool parseIsoDate(std::string_view text, CivilDate& date);
/// "2026-12-07T14:03:00Z" for Unix milliseconds.
std::string isoUtc(int64_t unixMs);

class LocalTime {
public:
    virtual ~LocalTime() = default;
    /// Seconds to add to a UTC instant (Unix seconds) to get the local
    /// reading there, daylight-saving time included (3600 for Central
    /// European winter time). Answers at once.
    virtual int32_t offsetAt(int64_t unixSeconds) const = 0;

    /// The local reading at a Unix time.
    LocalDateTime readingAt(int64_t unixSeconds) const;
    /// The Unix time at which the local clock reads `local` (see the rules above).
    int64_t instantOf(const LocalDateTime& local) const;
    CivilDate dateAt(int64_t unixSeconds) const { return readingAt(unixSeconds).date; }
    /// The Unix time of the date's first local second.
    int64_t startOf(const CivilDate& date) const { return instantOf({date, 0, 0, 0}); }
    /// "2026-12-07 14:03", for the text views.
    std::string minuteText(int64_t unixSeconds) const;
    /// "2026-01-14T06:00:00+01:00" (ISO 8601 with the offset).
    std::string isoLocal(int64_t unixSeconds) const;
};

/// UTC itself: the calendar of a program that has no zone to ask.
class UtcTime : public LocalTime {
public:
    int32_t offsetAt(int64_t) const override { return 0; }
};

}  // namespace linkmoot
