#include "BillingCycle.h"

#include <algorithm>
#include <cstdio>

#include "TextTools.h"

namespace linkmoot {

namespace {

/// The instant a cycle begins on a local date.
int64_t boundary(const CivilDate& date, unsigned hour, const LocalTime& zone) {
    return zone.instantOf({date, hour, 0, 0});
}

/// The boundary of a monthly cycle in a month (`months` since year 0).
int64_t monthlyBoundary(const CycleRule& rule, int64_t months, const LocalTime& zone) {
    const auto year = static_cast<int>(months / 12);
    const auto month = static_cast<unsigned>(months % 12 + 1);
    const unsigned day = std::min(rule.day, daysInMonth(year, month));
    return boundary({year, month, day}, rule.hour, zone);
}

}  // namespace

Cycle cycleAt(const CycleRule& rule, int64_t utcSeconds, const LocalTime& zone) {
    const LocalDateTime now = zone.readingAt(utcSeconds);
    if (rule.kind == CycleRule::Kind::Monthly) {
        int64_t months = static_cast<int64_t>(now.date.year) * 12 + now.date.month - 1;
        if (monthlyBoundary(rule, months, zone) > utcSeconds)
            months--;
        return {monthlyBoundary(rule, months, zone), monthlyBoundary(rule, months + 1, zone)};
    }
    const int64_t length = std::max(rule.days, 1u);
    const int64_t first = daysFromCivil(rule.start);
    const int64_t today = daysFromCivil(now.date);
    int64_t index =
        (today - first) >= 0 ? (today - first) / length : -((first - today + length - 1) / length);
    auto begins = [&](int64_t k) {
        return boundary(civilFromDays(first + k * length), rule.hour, zone);
    };
    if (begins(index) > utcSeconds)
        index--;
    return {begins(index), begins(index + 1)};
}

// --- FreeHours

namespace {

bool parseClock(std::string_view text, unsigned& minutes, bool mayBe24) {
    unsigned hour = 0;
    unsigned minute = 0;
    if (text.size() != 5 || text[2] != ':')
        return false;
    for (std::size_t i : {0u, 1u, 3u, 4u}) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    hour = static_cast<unsigned>((text[0] - '0') * 10 + (text[1] - '0'));
    minute = static_cast<unsigned>((text[3] - '0') * 10 + (text[4] - '0'));
    if (minute > 59 || hour > 24 || (hour == 24 && (minute != 0 || !mayBe24)))
        return false;
    minutes = hour * 60 + minute;
    return true;
}

}  // namespace

bool FreeHours::parse(std::string_view text, FreeHours& hours, std::string& error) {
    FreeHours parsed;
    std::size_t start = 0;
    while (!trimBlanks(text).empty() && start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::string_view entry = trimBlanks(text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        const std::size_t dash = entry.find('-');
        unsigned from = 0;
        unsigned to = 0;
        if (dash == std::string_view::npos || !parseClock(entry.substr(0, dash), from, false) ||
            !parseClock(entry.substr(dash + 1), to, true)) {
            error = "'" + std::string(entry) + "' is not a window such as 00:00-06:00";
            return false;
        }
        if (from == to % 1440) {
            error = "'" + std::string(entry) + "' is empty: its start and end are the same";
            return false;
        }
        parsed.windows.emplace_back(from, to);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    hours = parsed;
    return true;
}

bool FreeHours::containsMinute(unsigned minute) const {
    return std::any_of(windows.begin(), windows.end(), [minute](const auto& window) {
        const auto [from, to] = window;
        return from < to ? minute >= from && minute < to : minute >= from || minute < to;
    });
}

bool FreeHours::contains(int64_t utcSeconds, const LocalTime& zone) const {
    if (windows.empty())
        return false;
    const LocalDateTime local = zone.readingAt(utcSeconds);
    return containsMinute(local.hour * 60 + local.minute);
}

}  // namespace linkmoot
