#include "BillingCycle.h"

#include <gtest/gtest.h>

#include <string>

namespace linkmoot {
namespace {

struct FixedZone : LocalTime {
    explicit FixedZone(int32_t offset) : offset(offset) {}
    int32_t offsetAt(int64_t) const override { return offset; }
    int32_t offset;
};

TEST(BillingCycleTest, DaysAndDatesRoundTripOverFourCenturies) {
    EXPECT_EQ(daysFromCivil({1970, 1, 1}), 0);
    EXPECT_EQ(daysFromCivil({2000, 3, 1}), 11017);
    EXPECT_EQ(daysFromCivil({1969, 12, 31}), -1);
    for (int64_t day = daysFromCivil({1800, 1, 1}); day < daysFromCivil({2200, 1, 1}); day += 7) {
        ASSERT_EQ(daysFromCivil(civilFromDays(day)), day);
    }
    EXPECT_EQ(daysInMonth(2028, 2), 29u);
    EXPECT_EQ(daysInMonth(2100, 2), 28u);
    EXPECT_EQ(daysInMonth(2000, 2), 29u);
    EXPECT_EQ(daysInMonth(2026, 4), 30u);

    const FixedZone india(19800);  // +05:30
    EXPECT_EQ(india.isoLocal(1777573800), "2026-05-01T00:00:00+05:30");
    EXPECT_EQ(india.instantOf({{2026, 5, 1}, 0, 0, 0}), 1777573800);
    EXPECT_EQ(FixedZone(-12600).isoLocal(0), "1969-12-31T20:30:00-03:30");
}

TEST(BillingCycleTest, DatesAreReadStrictly) {
    CivilDate date;
    EXPECT_TRUE(parseIsoDate("2026-01-14", date));
    EXPECT_EQ(date, (CivilDate{2026, 1, 14}));
    EXPECT_TRUE(parseIsoDate("2028-02-29", date));
    for (const char* wrong : {"2026-02-29", "2026-13-01", "2026-00-10", "2026-1-14", "14.01.2026",
                              "2026-01-14 ", "", "2026-01-32", "1969-12-31"}) {
        EXPECT_FALSE(parseIsoDate(wrong, date)) << wrong;
    }
}

// A window may cross midnight and its end is exclusive.
TEST(BillingCycleTest, FreeHoursAreLocalWindowsWithAnExclusiveEnd) {
    FreeHours hours;
    std::string error;
    ASSERT_TRUE(FreeHours::parse(" 01:30-06:00 , 23:00-00:15", hours, error)) << error;
    struct Case {
        unsigned minute;
        bool free;
    };
    for (const Case& c :
         {Case{89, false}, Case{90, true}, Case{359, true}, Case{360, false}, Case{1379, false},
          Case{1380, true}, Case{1439, true}, Case{0, true}, Case{14, true}, Case{15, false}}) {
        EXPECT_EQ(hours.containsMinute(c.minute), c.free) << c.minute;
    }
    ASSERT_TRUE(FreeHours::parse("22:00-24:00", hours, error));
    EXPECT_TRUE(hours.containsMinute(1439));
    EXPECT_FALSE(hours.containsMinute(0));
    // 23:30 local is 22:30 UTC an hour east.
    EXPECT_TRUE(
        hours.contains(daysFromCivil({2026, 1, 1}) * 86400 + 22 * 3600 + 1800, FixedZone(3600)));
    ASSERT_TRUE(FreeHours::parse("", hours, error));
    EXPECT_TRUE(hours.empty());

    FreeHours kept;
    ASSERT_TRUE(FreeHours::parse("00:00-06:00", kept, error));
    for (const char* wrong : {"00:00-06:00,", "6-8", "25:00-01:00", "00:00-24:01", "24:00-01:00",
                              "05:00-05:00", "00:00-24:00,12:60-13:00", "00:00 06:00"}) {
        error.clear();
        EXPECT_FALSE(FreeHours::parse(wrong, kept, error)) << wrong;
        EXPECT_FALSE(error.empty()) << wrong;
    }
    EXPECT_TRUE(kept.containsMinute(0));  // left alone
}

}  // namespace
}  // namespace linkmoot
