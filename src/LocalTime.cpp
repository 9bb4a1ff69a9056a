#include "LocalTime.h"

#include <algorithm>
#include <cstdio>

namespace linkmoot {

namespace {

constexpr int64_t kDay = 86400;

int64_t floorDivide(int64_t value, int64_t divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

/// A local reading as a count of seconds, as if it were UTC.
int64_t readingSeconds(const LocalDateTime& local) {
    return daysFromCivil(local.date) * kDay + local.hour * 3600 + local.minute * 60 + local.second;
}

}  // namespace

// The well-known civil-date algorithms, counted in 400-year eras.
int64_t daysFromCivil(const CivilDate& date) {
    const int64_t year = date.year - (date.month <= 2 ? 1 : 0);
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t month = date.month;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + date.day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

CivilDate civilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    CivilDate date;
    date.day = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    date.month = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    date.year = static_cast<int>(yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0));
    return date;
}

std::string isoDate(const CivilDate& date) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", date.year, date.month, date.day);
    return text;
}

bool parseIsoDate(std::string_view text, CivilDate& date) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    int fields[3] = {0, 0, 0};
    const std::size_t starts[3] = {0, 5, 8};
    const std::size_t lengths[3] = {4, 2, 2};
    for (int i = 0; i < 3; ++i) {
        for (std::size_t at = starts[i]; at < starts[i] + lengths[i]; ++at) {
            if (text[at] < '0' || text[at] > '9')
                return false;
            fields[i] = fields[i] * 10 + (text[at] - '0');
        }
    }
    const CivilDate read{fields[0], static_cast<unsigned>(fields[1]),
                         static_cast<unsigned>(fields[2])};
    if (read.month < 1 || read.month > 12 || read.day < 1 || read.year < 1970)
        return false;
    // A day past the month's end comes back as another date.
    if (civilFromDays(daysFromCivil(read)) != read)
        return false;
    date = read;
    return true;
}

std::string isoUtc(int64_t unixMs) {
    const int64_t seconds = unixMs >= 0 ? unixMs / 1000 : -((-unixMs + 999) / 1000);
    const int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const int64_t inDay = seconds - days * 86400;
    const CivilDate date = civilFromDays(days);
    char text[48];
    std::snprintf(text, sizeof text, "%sT%02d:%02d:%02dZ", isoDate(date).c_str(),
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                  static_cast<int>(inDay % 60));
    return text;
}

unsigned daysInMonth(int year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[(month - 1) % 12];
}

LocalDateTime LocalTime::readingAt(int64_t unixSeconds) const {
    const int64_t reading = unixSeconds + offsetAt(unixSeconds);
    const int64_t days = floorDivide(reading, kDay);
    const int64_t second = reading - days * kDay;
    LocalDateTime local;
    local.date = civilFromDays(days);
    local.hour = static_cast<unsigned>(second / 3600);
    local.minute = static_cast<unsigned>(second % 3600 / 60);
    local.second = static_cast<unsigned>(second % 60);
    return local;
}

int64_t LocalTime::instantOf(const LocalDateTime& local) const {
    const int64_t reading = readingSeconds(local);
    // The offsets on either side of the reading; zones change at most once a day.
    const int32_t before = offsetAt(reading - kDay);
    const int32_t after = offsetAt(reading + kDay);
    int64_t first = INT64_MAX;
    for (int32_t offset : {before, after}) {
        const int64_t candidate = reading - offset;
        if (candidate + offsetAt(candidate) == reading)
            first = std::min(first, candidate);
    }
    if (first != INT64_MAX)
        return first;
    // Skipped by the clocks (moved forward): the instant they jumped, read
    // with the offset before, lands at the end of the skip.
    return reading - std::min(before, after);
}

std::string LocalTime::minuteText(int64_t unixSeconds) const {
    const LocalDateTime local = readingAt(unixSeconds);
    char text[32];
    std::snprintf(text, sizeof text, "%s %02u:%02u", isoDate(local.date).c_str(), local.hour,
                  local.minute);
    return text;
}

std::string LocalTime::isoLocal(int64_t unixSeconds) const {
    const LocalDateTime local = readingAt(unixSeconds);
    const int32_t offset = offsetAt(unixSeconds);
    const int32_t minutes = (offset < 0 ? -offset : offset) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%sT%02u:%02u:%02u%c%02d:%02d", isoDate(local.date).c_str(),
                  local.hour, local.minute, local.second, offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return text;
}

}  // namespace linkmoot
