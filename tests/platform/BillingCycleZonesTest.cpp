// Billing cycles in real time zones (the system's zone data, through TZ):
// boundaries worked out by hand, and invariants over a year of instants.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "BillingCycle.h"
#include "platform/PosixLocalTime.h"

namespace linkmoot {
namespace {

/// Runs the test's body with TZ set, and the process's zone back after.
class InZone {
public:
    explicit InZone(const char* zone) {
        const char* old = getenv("TZ");
        saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~InZone() {
        if (saved)
            setenv("TZ", saved->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    InZone(const InZone&) = delete;
    InZone& operator=(const InZone&) = delete;

private:
    std::optional<std::string> saved;
};

CycleRule monthly(unsigned day, unsigned hour) {
    CycleRule rule;
    rule.day = day;
    rule.hour = hour;
    return rule;
}

CycleRule everyDays(unsigned days, CivilDate start, unsigned hour = 0) {
    CycleRule rule;
    rule.kind = CycleRule::Kind::EveryNDays;
    rule.days = days;
    rule.start = start;
    rule.hour = hour;
    return rule;
}

int64_t at(const char* iso) {
    // "2026-01-20T12:00:00Z"
    tm parts{};
    strptime(iso, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return timegm(&parts);
}

TEST(BillingCycleZonesTest, BoundariesWorkedOutByHand) {
    struct Case {
        const char* zone;
        CycleRule rule;
        const char* now;  // UTC
        int64_t start, end;
        const char* what;
    };
    const Case cases[] = {
        {"Europe/Berlin", monthly(14, 6), "2026-01-20T12:00:00Z", 1768366800, 1771045200,
         "the 14th at 06:00 CET"},
        {"Europe/Berlin", monthly(31, 0), "2026-02-15T00:00:00Z", 1769814000, 1772233200,
         "the 31st: February ends on its 28th"},
        {"Europe/Berlin", monthly(31, 0), "2026-02-28T23:30:00Z", 1772233200, 1774908000,
         "half past midnight on 1 March belongs to the cycle from 28 February"},
        {"Europe/Berlin", monthly(30, 0), "2028-03-10T00:00:00Z", 1835391600, 1837980000,
         "a leap year's 29 February"},
        {"Europe/Berlin", monthly(29, 2), "2026-03-29T12:00:00Z", 1774746000, 1777420800,
         "02:00 skipped: the cycle begins at 03:00 CEST"},
        {"Europe/Berlin", monthly(29, 2), "2026-03-28T23:30:00Z", 1772240400, 1774746000,
         "just before the skipped hour: the cycle from 28 February"},
        {"Europe/Berlin", monthly(25, 2), "2026-10-25T00:30:00Z", 1792886400, 1795568400,
         "02:00 twice: the first one"},
        {"Europe/Berlin", monthly(1, 0), "2026-03-15T00:00:00Z", 1772319600, 1774994400,
         "March holds the change: an hour short"},
        {"Europe/Berlin", monthly(1, 0), "2026-10-15T00:00:00Z", 1790805600, 1793487600,
         "October holds the change: an hour long"},
        {"Europe/Berlin", monthly(1, 0), "2026-02-28T23:00:00Z", 1772319600, 1774994400,
         "exactly at a boundary: the new cycle"},
        {"Europe/Berlin", monthly(1, 0), "2026-02-28T22:59:59Z", 1769900400, 1772319600,
         "a second before it: the old one"},
        {"Europe/Berlin", monthly(30, 23), "2026-05-10T00:00:00Z", 1777582800, 1780174800,
         "the 30th at 23:00, April's 30th"},
        {"Europe/Berlin", everyDays(7, {2026, 1, 5}), "2026-01-20T00:00:00Z", 1768777200,
         1769382000, "weekly from a Monday"},
        {"Europe/Berlin", everyDays(7, {2026, 1, 5}), "2026-01-01T00:00:00Z", 1766962800,
         1767567600, "before the start date: the cycles run back"},
        {"Europe/Berlin", everyDays(7, {2026, 1, 5}), "2026-03-25T00:00:00Z", 1774220400,
         1774821600, "a week that holds the change is an hour short"},
        {"Asia/Kolkata", monthly(1, 0), "2026-05-10T00:00:00Z", 1777573800, 1780252200,
         "half an hour's offset"},
        {"Australia/Adelaide", monthly(5, 2), "2026-04-20T00:00:00Z", 1775316600, 1777912200,
         "Adelaide: 02:00 twice when summer time ends"},
        {"Australia/Adelaide", monthly(4, 2), "2026-10-10T00:00:00Z", 1791045000, 1793719800,
         "Adelaide: 02:00 skipped, the cycle begins at 03:00"},
        {"America/New_York", monthly(8, 2), "2026-03-20T00:00:00Z", 1772953200, 1775628000,
         "New York: 02:00 skipped"},
        {"UTC", monthly(1, 0), "2026-06-30T23:59:59Z", 1780272000, 1782864000, "UTC itself"},
    };
    for (const Case& c : cases) {
        InZone zone(c.zone);
        PosixLocalTime local;
        const Cycle cycle = cycleAt(c.rule, at(c.now), local);
        EXPECT_EQ(cycle.start, c.start) << c.what << ": " << local.isoLocal(cycle.start);
        EXPECT_EQ(cycle.end, c.end) << c.what << ": " << local.isoLocal(cycle.end);
    }
}

/// A cycle begins on its day at its hour (or at the end of a skipped hour) and
/// is as long as its days give, give or take the changed hour.
void checkCycle(const CycleRule& rule, const Cycle& cycle, const LocalTime& local,
                const char* name) {
    const LocalDateTime begins = local.readingAt(cycle.start);
    if (begins.hour != rule.hour || begins.minute != 0 || begins.second != 0) {
        // Only where the clocks skipped that reading: a second earlier they
        // read before it, at the start after it.
        auto reading = [](const LocalDateTime& t) {
            return daysFromCivil(t.date) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
        };
        const LocalDateTime wanted{begins.date, rule.hour, 0, 0};
        EXPECT_LT(reading(local.readingAt(cycle.start - 1)), reading(wanted)) << name;
        EXPECT_GT(reading(begins), reading(wanted)) << name;
    }
    if (rule.kind == CycleRule::Kind::Monthly) {
        EXPECT_EQ(begins.date.day,
                  std::min(rule.day, daysInMonth(begins.date.year, begins.date.month)))
            << name << " " << local.isoLocal(cycle.start);
    }
    const int64_t length = cycle.end - cycle.start;
    if (rule.kind == CycleRule::Kind::EveryNDays) {
        EXPECT_LE(std::llabs(length - int64_t{rule.days} * 86400), 3600) << name;
    } else {
        EXPECT_GE(length, 28 * 86400 - 3600) << name;
        EXPECT_LE(length, 31 * 86400 + 3600) << name;
    }
}

// For every hour of a year: the cycle holds the instant, the next begins where
// it ends, it begins on its day at its hour (or at the end of a skipped hour),
// and it is as long as its days give, give or take the changed hour.
TEST(BillingCycleZonesTest, CyclesAreContiguousAndBeginAtTheirHourAllYear) {
    std::vector<CycleRule> rules;
    for (unsigned day : {1u, 15u, 28u, 29u, 30u, 31u})
        for (unsigned hour : {0u, 2u, 3u, 23u})
            rules.push_back(monthly(day, hour));
    rules.push_back(everyDays(7, {2026, 1, 3}, 2));
    rules.push_back(everyDays(30, {2025, 12, 20}, 0));
    for (const char* name : {"Europe/Berlin", "Asia/Kolkata", "Australia/Adelaide",
                             "America/New_York", "Australia/Lord_Howe"}) {
        InZone zone(name);
        PosixLocalTime local;
        for (const CycleRule& rule : rules) {
            const int64_t first = at("2026-01-01T00:00:00Z");
            Cycle cycle = cycleAt(rule, first, local);
            int cycles = 0;
            for (int64_t t = first; t < first + 366 * 86400; t += 3600) {
                if (t >= cycle.end) {
                    const Cycle next = cycleAt(rule, t, local);
                    ASSERT_EQ(next.start, cycle.end) << name << " " << rule.day << " " << t;
                    cycle = next;
                    checkCycle(rule, cycle, local, name);
                    cycles++;
                }
                ASSERT_TRUE(cycle.start <= t && t < cycle.end) << name << " " << t;
            }
            EXPECT_GE(cycles, 11) << name;
        }
    }
}

}  // namespace
}  // namespace linkmoot
