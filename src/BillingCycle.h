#pragma once
// The calendar of a data plan: where a billing cycle begins and ends, and
// which hours are free. Providers bill in local time (a cycle "begins on the
// 14th at 06:00"), so cycle boundaries are local dates and hours, turned into
// UTC instants through the system's zone (LocalTime.h). A boundary is a local
// reading, never a count of seconds, so a change of daylight-saving time
// neither skips nor doubles an hour of a cycle: the cycle that holds the
// change is an hour shorter or longer. A boundary hour that the clocks skip
// begins at the end of the skipped hour; one that happens twice, at the first.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "LocalTime.h"

namespace linkmoot {

/// How a plan's cycles run.
struct CycleRule {
    enum class Kind { Monthly, EveryNDays };
    Kind kind = Kind::Monthly;
    /// Monthly: the day of the month each cycle begins (1 to 31; a shorter
    /// month uses its last day).
    unsigned day = 1;
    /// The local hour (0 to 23) at which each cycle begins.
    unsigned hour = 0;
    /// EveryNDays: the length in days, counted from `start`.
    unsigned days = 30;
    CivilDate start;
};

/// One cycle: [start, end) in UTC seconds.
struct Cycle {
    int64_t start = 0;
    int64_t end = 0;
    bool operator==(const Cycle&) const = default;
};

/// The cycle that holds the instant; cycles run back before a rule's start
/// date as they run after it, so every instant has one.
Cycle cycleAt(const CycleRule& rule, int64_t utcSeconds, const LocalTime& zone);

/// Local hours whose traffic does not count against a cap: windows such as
/// "00:00-06:00,23:00-01:00"; a window may cross midnight, its end is
/// exclusive, and "24:00" may end one.
class FreeHours {
public:
    /// Empty text (or blanks): no free hours. False, with the reason, on a
    /// malformed window; `hours` is left alone then.
    static bool parse(std::string_view text, FreeHours& hours, std::string& error);
    bool empty() const { return windows.empty(); }
    /// Whether a local minute of the day (0 to 1439) is free.
    bool containsMinute(unsigned minuteOfDay) const;
    bool contains(int64_t utcSeconds, const LocalTime& zone) const;

private:
    std::vector<std::pair<unsigned, unsigned>> windows;  // [from, to) in minutes of the day
};

}  // namespace linkmoot
