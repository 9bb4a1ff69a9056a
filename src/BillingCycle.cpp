#include "BillingCycle.h"

#include <algorithm>
#include <cstdio>

#include "TextTools.h"

namespace linkmoot {

namespace calendar {

namespace {

constexpr int64_t kDay = 86400;

int64_t floorDivide(int64_t value, int64_t divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

/// The local reading as a count of seconds, as if it were UTC.
int64_t readingSeconds(const LocalDateTime& local) {
    return daysFromCivil(local.date) * kDay + local.hour * 3600 + local.minute * 60 + local.second;
}

}  // namespace

// The well-known day-count algorithms of the proleptic Gregorian calendar,
// over 400-year eras.
int64_t daysFromCivil(const CivilDate& date) {
    const int64_t year = static_cast<int64_t>(date.year) - (date.month <= 2 ? 1 : 0);
    const int64_t era = floorDivide(year, 400);
    const int64_t yearOfEra = year - era * 400;
    const int64_t month = date.month;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + date.day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

CivilDate civilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = floorDivide(days, 146097);
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    CivilDate date;
    date.day = static_cast<unsigned>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    date.month = static_cast<unsigned>(shifted < 10 ? shifted + 3 : shifted - 9);
    date.year = static_cast<int32_t>(yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0));
    return date;
}

unsigned daysInMonth(int32_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[(month - 1) % 12];
}

LocalDateTime toLocal(int64_t utcSeconds, const LocalTime& zone) {
    const int64_t reading = utcSeconds + zone.offsetAt(utcSeconds);
    const int64_t days = floorDivide(reading, kDay);
    const int64_t second = reading - days * kDay;
    LocalDateTime local;
    local.date = civilFromDays(days);
    local.hour = static_cast<unsigned>(second / 3600);
    local.minute = static_cast<unsigned>(second % 3600 / 60);
    local.second = static_cast<unsigned>(second % 60);
    return local;
}

int64_t toUtc(const LocalDateTime& local, const LocalTime& zone) {
    const int64_t reading = readingSeconds(local);
    // The offsets on either side of the reading; zones change at most once a day.
    const int32_t before = zone.offsetAt(reading - kDay);
    const int32_t after = zone.offsetAt(reading + kDay);
    int64_t first = INT64_MAX;
    for (int32_t offset : {before, after}) {
        const int64_t candidate = reading - offset;
        if (candidate + zone.offsetAt(candidate) == reading)
            first = std::min(first, candidate);
    }
    if (first != INT64_MAX)
        return first;
    // Skipped by the clocks (moved forward): the instant they jumped, read
    // with the offset before, lands at the end of the skip.
    return reading - std::min(before, after);
}

bool parseDate(std::string_view text, CivilDate& date) {
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    auto number = [](std::string_view digits, unsigned& value) {
        value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        return true;
    };
    if (!number(text.substr(0, 4), year) || !number(text.substr(5, 2), month) ||
        !number(text.substr(8, 2), day) || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(static_cast<int32_t>(year), month)) {
        return false;
    }
    date = {static_cast<int32_t>(year), month, day};
    return true;
}

std::string isoLocal(int64_t utcSeconds, const LocalTime& zone) {
    const LocalDateTime local = toLocal(utcSeconds, zone);
    const int32_t offset = zone.offsetAt(utcSeconds);
    const int32_t minutes = (offset < 0 ? -offset : offset) / 60;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u%c%02d:%02d",
                  static_cast<int>(local.date.year), local.date.month, local.date.day, local.hour,
                  local.minute, local.second, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

}  // namespace calendar

namespace {

/// The instant a cycle begins on a local date.
int64_t boundary(const CivilDate& date, unsigned hour, const LocalTime& zone) {
    return calendar::toUtc({date, hour, 0, 0}, zone);
}

/// The boundary of a monthly cycle in a month (`months` since year 0).
int64_t monthlyBoundary(const CycleRule& rule, int64_t months, const LocalTime& zone) {
    const auto year = static_cast<int32_t>(months / 12);
    const auto month = static_cast<unsigned>(months % 12 + 1);
    const unsigned day = std::min(rule.day, calendar::daysInMonth(year, month));
    return boundary({year, month, day}, rule.hour, zone);
}

}  // namespace

Cycle cycleAt(const CycleRule& rule, int64_t utcSeconds, const LocalTime& zone) {
    const LocalDateTime now = calendar::toLocal(utcSeconds, zone);
    if (rule.kind == CycleRule::Kind::Monthly) {
        int64_t months = static_cast<int64_t>(now.date.year) * 12 + now.date.month - 1;
        if (monthlyBoundary(rule, months, zone) > utcSeconds)
            months--;
        return {monthlyBoundary(rule, months, zone), monthlyBoundary(rule, months + 1, zone)};
    }
    const int64_t length = std::max(rule.days, 1u);
    const int64_t first = calendar::daysFromCivil(rule.start);
    const int64_t today = calendar::daysFromCivil(now.date);
    int64_t index =
        (today - first) >= 0 ? (today - first) / length : -((first - today + length - 1) / length);
    auto begins = [&](int64_t k) {
        return boundary(calendar::civilFromDays(first + k * length), rule.hour, zone);
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
    const LocalDateTime local = calendar::toLocal(utcSeconds, zone);
    return containsMinute(local.hour * 60 + local.minute);
}

}  // namespace linkmoot
